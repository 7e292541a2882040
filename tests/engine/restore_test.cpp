// The restore after the eighth firmware file: the wait for the new firmware, the download date,
// the calibration file, the power-off, the wait for the operator and the state file in pieces.
// Each case reaches the restore the short way: the instrument is off at the handshake, the
// operator says an upload was broken off (so no backups are made and the files already in the
// working directory are sent back), and then starts the instrument into its loader.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/Update_unit2.h"
#include "engine_fixture.h"
#include "firmware/firmware.h"
#include "instrument.h"
#include "platform/clock.h"
#include "platform/ui_thread.h"
#include "ui/port_connection.h"

namespace {

// What the handshake sends to the silent instrument: the wake-up and the identity query.
constexpr std::size_t HandshakeBytes = 1 + 33;
const std::string Idn("*IDN?\n\0", 7);
const std::string DiaOn("$dia 1\r\n\0", 9);
const std::string DiaOff("$dia 0\r\n\0", 9);
const std::string PowerOff = "$ibr\npoff\n";

const std::string CalFixture = "$dia 1\r\nSNUM 12345\r\n$afs  1 1.0000E+00\r\n$aco  1 0.0000E+00\r\n$sef\r\n";
const std::string StateFixture = "GPMU    TORR\r\nGDES  1 PIRANI 1\r\nDENA    1\r\n";

const std::string FileReadError = "Can't perform one of the following file operations: Open, Seek, Read, Close.";
const std::string RebootText =
    "Reboot the TMV540 so the firmware download date can be written.\nClick OK after reboot finishes.";
const std::string RestartHint = "\r\nIf you need to restart TMV Update, re-select the COM port.";

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

// A state file of exactly `size` bytes, made of set commands the instrument takes.
std::string StateFileOfSize(std::size_t size) {
  std::string text;
  while (text.size() < size) text += "DENA    1\r\n";
  text.resize(size);
  return text;
}

// A busy machine can delay an answer past a read's scaled time-out, and the poll then asks
// again; where the number of queries is not the point, any run of them counts as one.
std::string OneQueryPerPoll(std::string bytes) {
  const std::string twice = Idn + Idn;
  for (auto at = bytes.find(twice); at != std::string::npos; at = bytes.find(twice, at)) bytes.erase(at, Idn.size());
  return bytes;
}

// Every byte of the restore up to the state file, when each IDN poll took the given attempts.
std::string RestoreBytes(const std::string& date, int firstPoll, const std::string& cal, int secondPoll,
                         const std::string& state) {
  return Repeat(Idn, firstPoll) + DiaOn + "FDAT " + date + "\n" + DiaOff + "\n" + cal + PowerOff +
         Repeat(Idn, secondPoll) + "\n" + state;
}

// The log from the end of the transfer to the end of a successful update.
std::string RestoreLog(int statePieces) {
  return "\r\nFinished with last file.\r\nSetting firmware download date...set.\r\n"
         "\r\nSending file:\r\ntmv-cal.txt...\r\nFinished with cal upload."
         "\r\nPress the power button to reboot your TMV540 and finish the update."
         "\r\nSending file:\r\ntmv-ste.txt..." +
         Repeat("...", statePieces) +
         "\r\nFinished sending TMV540 state.\r\nYour new TMV540 firmware was succesfully installed!" + RestartHint;
}

class RestoreTest : public EngineTest {
 protected:
  // An instrument that answers its first identity query after the new firmware, and is switched
  // on again at once after it has switched itself off.
  static sim::Options PromptInstrument() {
    sim::Options options;
    options.device.start = sim::Power::Off;
    options.device.restart_ms = 0;
    options.auto_operator = true;
    options.operator_delay_ms = 0;
    return options;
  }

  // One update from the handshake to its end; records the dates around the worker's start.
  void RunUpdate(sim::Options options) {
    instrument_ = std::make_unique<sim::Instrument>(std::move(options));
    std::string error;
    ASSERT_TRUE(instrument_->Start(error)) << error;
    op.Answer("Aborted upload?", IDYES);
    op.Answer("Upload Complete", IDOK);
    dateBefore_ = TodayAsDownloadDate();
    PickPort(instrument_->Path());
    platform::ServeUiRequestsUntil(
        [&] { return Worker == nullptr || op.Log().find("Unplug the TMV540") != std::string::npos; });
    instrument_->PressPowerWithIg1Degas();
    WaitForWorker();
    dateAfter_ = TodayAsDownloadDate();
    EXPECT_TRUE(op.Unexpected().empty()) << op.Unexpected().front();
  }

  // What the instrument received after the eighth firmware file.
  std::string AfterLastFile() const {
    const std::string bytes = instrument_->ReceivedBytes();
    const std::size_t transfer = HandshakeBytes + FirmwareFileCount * FirmwareFileSize;
    int files = 0;
    for (const auto& item : instrument_->Received())
      if (item.kind == sim::Received::Kind::File && item.accepted) ++files;
    EXPECT_EQ(files, FirmwareFileCount);
    return bytes.size() < transfer ? std::string() : bytes.substr(transfer);
  }

  // The log from "Finished with last file." on.
  std::string LogAfterLastFile() const {
    const auto at = op.Log().find("\r\nFinished with last file.");
    return at == std::string::npos ? op.Log() : op.Log().substr(at);
  }

  // The received bytes match `expected(date)` for the date of the worker's start; unless
  // `countQueries`, each IDN poll may have asked more than once.
  void ExpectRestoreBytes(const std::function<std::string(const std::string&)>& expected,
                          bool countQueries = false) const {
    auto shape = [&](const std::string& bytes) { return countQueries ? bytes : OneQueryPerPoll(bytes); };
    const std::string received = shape(AfterLastFile());
    if (received == shape(expected(dateAfter_))) return;
    EXPECT_EQ(received, shape(expected(dateBefore_)));
  }

  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const auto& box : op.Boxes()) captions.push_back(box.caption);
    return captions;
  }

  std::unique_ptr<sim::Instrument> instrument_;
  std::string dateBefore_, dateAfter_;
};

struct StateSizeCase {
  std::size_t size;
  int pieces;
};

class StateRestoreTest : public RestoreTest, public ::testing::WithParamInterface<StateSizeCase> {};

TEST_P(StateRestoreTest, StateFileGoesOutWholeInPiecesOf200WithOneLogMarkEach) {
  const auto [size, pieces] = GetParam();
  const std::string state = StateFileOfSize(size);
  WriteWorkFile("tmv-cal.txt", CalFixture);
  WriteWorkFile("tmv-ste.txt", state);

  RunUpdate(PromptInstrument());

  ExpectRestoreBytes([&](const std::string& date) { return RestoreBytes(date, 1, CalFixture, 1, state); });
  EXPECT_EQ(LogAfterLastFile(), RestoreLog(pieces));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Aborted upload?", "Upload Complete"}));
  // The files are only read: both stay as they were.
  EXPECT_EQ(ReadWorkFile("tmv-cal.txt"), CalFixture);
  EXPECT_EQ(ReadWorkFile("tmv-ste.txt"), state);
  EXPECT_EQ(CalRestorePending, 0);
  EXPECT_EQ(StateRestorePending, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, StateRestoreTest,
                         ::testing::Values(StateSizeCase{450, 3}, StateSizeCase{400, 2}, StateSizeCase{150, 1},
                                           StateSizeCase{201, 2}, StateSizeCase{0, 0}),
                         [](const auto& info) { return std::to_string(info.param.size) + "Bytes"; });

TEST_F(RestoreTest, DownloadDateIsThirteenBytesOfTodayBetweenTheDiagnosticCommands) {
  WriteWorkFile("tmv-cal.txt", CalFixture);
  WriteWorkFile("tmv-ste.txt", StateFixture);

  RunUpdate(PromptInstrument());

  const auto received = instrument_->Received();
  auto fdat = std::find_if(received.begin(), received.end(), [](const auto& item) {
    return item.kind == sim::Received::Kind::Command && item.text.rfind("FDAT ", 0) == 0;
  });
  ASSERT_NE(fdat, received.end());
  ASSERT_GT(fdat - received.begin(), 0);
  ASSERT_LT(fdat - received.begin() + 1, static_cast<long>(received.size()));
  EXPECT_EQ((fdat - 1)->raw, DiaOn);
  EXPECT_EQ((fdat + 1)->raw.substr(0, DiaOff.size()), DiaOff);
  ASSERT_EQ(fdat->raw.size(), 13u);
  EXPECT_TRUE(fdat->accepted);
  const std::string date = fdat->raw.substr(5, 7);
  EXPECT_TRUE(date == dateBefore_ || date == dateAfter_) << date;
  EXPECT_EQ(fdat->raw.back(), '\n');
  EXPECT_EQ(instrument_->memory().download_date, date);
}

TEST_F(RestoreTest, UploadCompleteBoxHasElevenLinesPaddedForItsWidth) {
  WriteWorkFile("tmv-cal.txt", CalFixture);
  WriteWorkFile("tmv-ste.txt", StateFixture);

  RunUpdate(PromptInstrument());

  ASSERT_EQ(op.Boxes().size(), 2u);
  const auto& box = op.Boxes()[1];
  EXPECT_EQ(box.caption, "Upload Complete");
  EXPECT_EQ(box.flags, MB_OK);
  std::vector<std::string> lines;
  for (std::size_t start = 0;;) {
    const auto end = box.text.find("\r\n", start);
    lines.push_back(box.text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  const std::vector<std::string> texts = {
      "Your calibration is now restored to flash memory.",
      "",
      "Your TMV540 will now be turned off.",
      "",
      "This forces the TMV to load the calibration from flash memory.",
      "The TMV will beep and report it has 'lost settings while the power was off';",
      "this is normal and occurs whenever the TMV is forced to load settings from flash memory.",
      "",
      "IMPORTANT!",
      "After you click OK, You MUST reboot the TMV by pressing the red power button after it is turned off.",
      "Once the TMV is rebooted, your instrument state is restored."};
  ASSERT_EQ(lines.size(), texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const bool padded = !texts[i].empty() && i + 1 < texts.size();
    EXPECT_EQ(lines[i], texts[i] + (padded ? std::string(24, ' ') : "")) << "line " << i + 1;
  }
}

struct IdnCase {
  const char* name;
  int unansweredAfterNewFirmware;  // identity queries the new firmware leaves unanswered
  bool switchedOnAgain;            // the operator switches the instrument on after its power-off
  int answer;                      // to the "Reboot TMV" box
  int firstPoll, secondPoll;       // queries sent by each poll
  int rebootBoxes;
};

class IdnPollTest : public RestoreTest, public ::testing::WithParamInterface<IdnCase> {
 protected:
  void SetUp() override {
    RestoreTest::SetUp();
    // The count of queries is the point here: give each answer room to arrive within its read.
    platform::SetTimeScale(std::max(TestTimeScale(), 0.25));
  }
};

TEST_P(IdnPollTest, PollEndsAtTheFirstAnswerOrAsksForARebootAfterTwentyQueries) {
  const IdnCase& c = GetParam();
  WriteWorkFile("tmv-cal.txt", CalFixture);
  WriteWorkFile("tmv-ste.txt", StateFixture);
  sim::Options options = PromptInstrument();
  options.device.faults.idn_ignored = c.unansweredAfterNewFirmware;
  options.auto_operator = c.switchedOnAgain;
  for (int i = 0; i < c.rebootBoxes; ++i) op.Answer("Reboot TMV", c.answer);

  RunUpdate(options);

  // Whatever the answer, the restore goes on as if the instrument had answered.
  ExpectRestoreBytes(
      [&](const std::string& date) { return RestoreBytes(date, c.firstPoll, CalFixture, c.secondPoll, StateFixture); },
      true);
  EXPECT_EQ(LogAfterLastFile(), RestoreLog(1));
  int shown = 0;
  for (const auto& box : op.Boxes()) {
    if (box.caption != "Reboot TMV") continue;
    ++shown;
    EXPECT_EQ(box.text, RebootText);
    EXPECT_EQ(box.flags, MB_OKCANCEL);
  }
  EXPECT_EQ(shown, c.rebootBoxes);
}

INSTANTIATE_TEST_SUITE_P(Answers, IdnPollTest,
                         ::testing::Values(IdnCase{"FirstQueryAnswered", 0, true, IDOK, 1, 1, 0},
                                           IdnCase{"TwentiethQueryAnswered", 19, true, IDOK, 20, 1, 0},
                                           IdnCase{"NewFirmwareSilentOk", 20, true, IDOK, 20, 1, 1},
                                           IdnCase{"NewFirmwareSilentCancel", 20, true, IDCANCEL, 20, 1, 1},
                                           IdnCase{"LeftSwitchedOffOk", 0, false, IDOK, 1, 20, 1},
                                           IdnCase{"LeftSwitchedOffCancel", 0, false, IDCANCEL, 1, 20, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

struct UnreadableFileCase {
  const char* name;
  const char* file;  // missing, unless a directory stands in its place
  bool directory;
  bool calibrationSent;
};

class UnreadableFileTest : public RestoreTest, public ::testing::WithParamInterface<UnreadableFileCase> {};

TEST_P(UnreadableFileTest, FileErrorBoxAndNothingOfTheFileOrWhatFollowsIsSent) {
  const UnreadableFileCase& c = GetParam();
  if (std::string(c.file) != "tmv-cal.txt") WriteWorkFile("tmv-cal.txt", CalFixture);
  if (std::string(c.file) != "tmv-ste.txt") WriteWorkFile("tmv-ste.txt", StateFixture);
  // A directory opens, but reports a size no buffer can hold.
  if (c.directory) std::filesystem::create_directory(WorkDir() / c.file);
  op.Answer("File Error", IDOK);

  RunUpdate(PromptInstrument());

  ExpectRestoreBytes([&](const std::string& date) {
    const std::string upToCal = Repeat(Idn, 1) + DiaOn + "FDAT " + date + "\n" + DiaOff + "\n";
    return c.calibrationSent ? upToCal + CalFixture + PowerOff + Idn + "\n" : upToCal;
  });
  const std::string announced = std::string("\r\nSending file:\r\n") + c.file + "...";
  const std::string log = LogAfterLastFile();
  ASSERT_GE(log.size(), announced.size() + RestartHint.size());
  EXPECT_EQ(log.substr(log.size() - announced.size() - RestartHint.size()), announced + RestartHint);
  EXPECT_EQ(log.find("Finished sending"), std::string::npos);
  ASSERT_FALSE(op.Boxes().empty());
  const auto& box = op.Boxes().back();
  EXPECT_EQ(box.caption, "File Error");
  EXPECT_EQ(box.text, FileReadError);
  EXPECT_EQ(box.flags, MB_OKCANCEL);
  EXPECT_EQ(CalRestorePending, 0);
  EXPECT_EQ(StateRestorePending, 0);
  EXPECT_EQ(CalBackupPending, 1);
}

INSTANTIATE_TEST_SUITE_P(Files, UnreadableFileTest,
                         ::testing::Values(UnreadableFileCase{"CalibrationFileMissing", "tmv-cal.txt", false, false},
                                           UnreadableFileCase{"CalibrationFileIsADirectory", "tmv-cal.txt", true,
                                                              false},
                                           UnreadableFileCase{"StateFileMissing", "tmv-ste.txt", false, true},
                                           UnreadableFileCase{"StateFileIsADirectory", "tmv-ste.txt", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RestoreTest, InstrumentOutputDuringTheRestoreIsNeverEchoed) {
  // Queries at the end of both files make the instrument talk while the restore goes on; a pass
  // of the loop between the last file and the end would put their answers in the log.
  const std::string cal = CalFixture + "SNUM?\n";
  const std::string state = StateFixture + "FREV?\n";
  WriteWorkFile("tmv-cal.txt", cal);
  WriteWorkFile("tmv-ste.txt", state);

  sim::Options options = PromptInstrument();
  options.keep_transcript = true;

  RunUpdate(options);

  ExpectRestoreBytes([&](const std::string& date) { return RestoreBytes(date, 1, cal, 1, state); });
  EXPECT_EQ(LogAfterLastFile(), RestoreLog(1));
  // The answers were there to be echoed: the instrument did send them.
  const std::string transcript = instrument_->Transcript();
  EXPECT_NE(transcript.find(">> 12345\\r"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find(">> 093\\r"), std::string::npos) << transcript;
}

}  // namespace
