// The calibration backup against the simulated instrument: the serial number and its dialog, the
// calibration file byte for byte, the bytes on the wire, and every way the backup can fail
// without costing the operator the last good calibration file.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "backup_fixture.h"
#include "engine/Update_unit2.h"

namespace {

using namespace backup_test;

const std::string CalWritten = "\r\nCalibration written.";
const std::string CalAnnounce = "Your TMV540 calibration will be saved as:\r\ntmv-cal.txt\r\n";
const std::string NotSaved = "\r\nThe calibration was not saved.  Update Canceled.";
const std::string CreateFailureText = "Couldn't open file for saving.  Exiting.";
const std::string OldCalibration = "$dia 1\r\nSNUM 11111\r\n$sef\r\n";

// An instrument that answers no state query: the update ends through FinishUpdate right after the
// calibration backup, before a second query is sent.
sim::Faults EndsAfterCalibration() {
  sim::Faults faults;
  faults.state_empty = 1;
  return faults;
}
const std::string FirstStateQuery = "GPMU?   \n";

class CalBackupTest : public BackupTest {};

TEST_F(CalBackupTest, GoldenInstrumentGivesTheGoldenFile) {
  WriteWorkFile("tmv-cal.txt", OldCalibration);
  StartInstrument(GoldenInstrument(), EndsAfterCalibration());
  RunToEnd();

  EXPECT_EQ(ReadWorkFile("tmv-cal.txt"), Golden("tmv-cal.esc"));
  const std::string wire = Handshake + CalibrationWire(OwnSerialNumber) + FirstStateQuery;
  EXPECT_EQ(Wire(wire.size()), wire);
  EXPECT_EQ(op.Log().substr(0, op.Log().find("\r\nYour TMV540 state")),
            "\r\nUsing COM1...\r\n" + CalAnnounce + CalWritten);
  EXPECT_EQ(op.SerialNumberDialogs(), 0);
  EXPECT_TRUE(op.Unexpected().empty());
  EXPECT_EQ(WorkFiles(), (std::set<std::string>{"tmv-cal.txt"}));
}

// What the operator does with the serial number dialog, if it comes.
enum class Dialog { NotExpected, ConfirmAsShown, Type, CloseByFrame };

struct SerialNumberCase {
  const char* name;
  std::string stored;  // the instrument's serial number; it answers it followed by CR
  Dialog dialog;
  std::string typed;
  std::string command;  // the serial number command, on the wire and as line 2 of the file
};
void PrintTo(const SerialNumberCase& c, std::ostream* os) { *os << c.name; }

const SerialNumberCase SerialNumberCases[] = {
    {"ValidUsedWholeWithItsCr", "12345", Dialog::NotExpected, "", "SNUM 12345\r\n"},
    {"NineFirstIsValid", "9Z", Dialog::NotExpected, "", "SNUM 9Z\r\n"},
    {"LoneCrThenDefault", "", Dialog::ConfirmAsShown, "", "SNUM 12345\n"},
    {"LeadingZeroThenDefault", "01234", Dialog::ConfirmAsShown, "", "SNUM 12345\n"},
    {"LetterThenEntry", "A1234", Dialog::Type, "54321", "SNUM 54321\n"},
    {"ColonAfterNineThenEntry", ":2345", Dialog::Type, "2", "SNUM 2\n"},
    {"HighByteThenLongEntryCut", "\2712345", Dialog::Type, "7654321", "SNUM 76543\n"},  // 0xB9, then 2345
    {"LetterThenEmptyEntry", "A1234", Dialog::Type, "", "SNUM \n"},
    {"LetterThenClosedKeepsReply", "A1234", Dialog::CloseByFrame, "", "SNUM A1234\r\n"},
    {"LoneCrThenClosedKeepsReply", "", Dialog::CloseByFrame, "", "SNUM \r\n"},
};

class CalSerialNumberTest : public BackupTest, public ::testing::WithParamInterface<SerialNumberCase> {};

TEST_P(CalSerialNumberTest, CommandAndFileCarryTheNumber) {
  const SerialNumberCase& c = GetParam();
  sim::Memory memory = sim::DefaultMemory();
  memory.serial_number = c.stored;
  StartInstrument(memory, EndsAfterCalibration());
  if (c.dialog == Dialog::ConfirmAsShown) op.EnterSerialNumber(op.SerialNumberEntry());
  if (c.dialog == Dialog::Type) op.EnterSerialNumber(c.typed);
  if (c.dialog == Dialog::CloseByFrame) op.CloseSerialNumberDialog();
  RunToEnd();

  EXPECT_EQ(op.SerialNumberDialogs(), c.dialog == Dialog::NotExpected ? 0 : 1);
  EXPECT_TRUE(op.Unexpected().empty());
  const std::string wire = Handshake + CalibrationWire(c.command) + FirstStateQuery;
  EXPECT_EQ(Wire(wire.size()), wire);
  const std::string file = ReadWorkFile("tmv-cal.txt");
  EXPECT_EQ(file.substr(0, 8 + c.command.size()), "$dia 1\r\n" + c.command) << op.Log();
  EXPECT_TRUE(file.ends_with("\r\n$sef\r\n")) << file;
}

INSTANTIATE_TEST_SUITE_P(Replies, CalSerialNumberTest, ::testing::ValuesIn(SerialNumberCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The dialog is created once and never reset: in a later update it shows the last entry.
TEST_F(CalBackupTest, SecondDialogShowsTheLastEntry) {
  sim::Memory memory = sim::DefaultMemory();
  memory.serial_number = "01234";
  StartInstrument(memory, EndsAfterCalibration());
  op.EnterSerialNumber("67890");
  RunToEnd();
  ASSERT_EQ(CalBackupPending, 1);

  StartInstrument(memory, EndsAfterCalibration());
  // The operator confirms what the dialog shows.
  op.EnterSerialNumber(op.SerialNumberEntry());
  RunToEnd();

  EXPECT_EQ(op.SerialNumberDialogs(), 2);
  const std::string wire = Handshake + CalibrationWire("SNUM 67890\n") + FirstStateQuery;
  EXPECT_EQ(Wire(wire.size()), wire);
  EXPECT_EQ(ReadWorkFile("tmv-cal.txt").substr(0, 19), "$dia 1\r\nSNUM 67890\n");
}

// No reply at all to the serial number query, a case the simulated instrument never shows.
class CalSilentSerialNumberTest : public PeerTest {};

TEST_F(CalSilentSerialNumberTest, ClosedDialogGivesAnEmptyNumber) {
  peer.When(IdentityQuery, {"092\r\n02/11/01 09:30\r\n15Nov02\r\n"});
  op.Answer("Erase TMV540 Firmware?", IDOK);
  op.CloseSerialNumberDialog();
  WriteWorkFile("tmv-cal.txt", OldCalibration);
  RunUpdate(peer.DevicePath());

  EXPECT_EQ(op.SerialNumberDialogs(), 1);
  EXPECT_EQ(peer.Wire(), Handshake + CalibrationWire("SNUM \n"));
  // Nor are the calibration queries answered.
  EXPECT_TRUE(op.Log().ends_with("\r\nThe TMV540 answered 0 of the 38 calibration queries." + NotSaved + RestartHint))
      << op.Log();
  EXPECT_EQ(ReadWorkFile("tmv-cal.txt"), OldCalibration);
}

// 38 calibration values of the given lengths.
sim::Values CalibrationOfLengths(const std::vector<std::size_t>& lengths) {
  sim::Values values;
  for (std::size_t i = 0; i < lengths.size(); ++i)
    values[sim::CalibrationItems()[i].key] = std::string(lengths[i], '7');
  return values;
}

// File size: 362 bytes of frame, the 6 bytes of "12345\r", and the values.
std::vector<std::size_t> LengthsForFileSize(std::size_t size) {
  std::vector<std::size_t> lengths(38, 17);
  lengths.back() = size - 362 - 6 - 37 * 17;
  return lengths;
}

TEST_F(CalBackupTest, LargestCalibrationStillFits) {
  sim::Memory memory = sim::DefaultMemory();
  memory.calibration = CalibrationOfLengths(LengthsForFileSize(1023));
  StartInstrument(memory, EndsAfterCalibration());
  RunToEnd();

  const std::string file = ReadWorkFile("tmv-cal.txt");
  EXPECT_EQ(file.size(), 1023u);
  EXPECT_TRUE(file.ends_with("$pdg   " + std::string(26, '7') + "\r\n$sef\r\n")) << file;
  EXPECT_NE(op.Log().find(CalWritten), std::string::npos);
}

struct CalReplyFailure {
  const char* name;
  sim::Faults faults;
  std::vector<std::size_t> lengths;  // of the 38 values; empty: the instrument's own
  std::string reported;
};
void PrintTo(const CalReplyFailure& c, std::ostream* os) { *os << c.name; }

sim::Faults LastRepliesMissing(int count) {
  sim::Faults faults;
  faults.cal_missing = count;
  return faults;
}

sim::Faults PauseBeforeReply(int reply) {
  sim::Faults faults;
  faults.cal_pause_at = reply;
  faults.cal_pause_ms = 1000;
  return faults;
}

const std::string TooMuchText = "\r\nThe TMV540 sent more calibration text than a calibration holds.";

const CalReplyFailure CalReplyFailures[] = {
    {"LastReplyMissing", LastRepliesMissing(1), {}, "\r\nThe TMV540 answered 37 of the 38 calibration queries."},
    {"PauseBeforeReply20", PauseBeforeReply(20), {}, "\r\nThe TMV540 answered 19 of the 38 calibration queries."},
    {"FileOneByteTooLong", {}, LengthsForFileSize(1024), TooMuchText},
    {"RepliesOverflowTheText", {}, std::vector<std::size_t>(38, 40), TooMuchText},
};

class CalReplyFailureTest : public BackupTest, public ::testing::WithParamInterface<CalReplyFailure> {};

TEST_P(CalReplyFailureTest, KeepsTheOldFileAndEndsBeforeTheStateBackup) {
  const CalReplyFailure& c = GetParam();
  WriteWorkFile("tmv-cal.txt", OldCalibration);
  sim::Memory memory = sim::DefaultMemory();
  if (!c.lengths.empty()) memory.calibration = CalibrationOfLengths(c.lengths);
  StartInstrument(memory, c.faults);
  RunToEnd();

  EXPECT_EQ(LogFrom(CalAnnounce), CalAnnounce + c.reported + NotSaved + RestartHint);
  EXPECT_EQ(ReadWorkFile("tmv-cal.txt"), OldCalibration);
  EXPECT_EQ(WorkFiles(), (std::set<std::string>{"tmv-cal.txt"}));
  const std::string wire = Handshake + CalibrationWire(OwnSerialNumber);
  EXPECT_EQ(Wire(wire.size()), wire);
  EXPECT_EQ(op.Boxes().size(), 1u);  // the confirmation
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CalBackupPending, 1);
}

INSTANTIATE_TEST_SUITE_P(Replies, CalReplyFailureTest, ::testing::ValuesIn(CalReplyFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// Where the working directory disappears: before the update, so the calibration file cannot be
// created, or once the calibration is written, so the state file cannot.
struct CreateFailure {
  const char* name;
  bool afterCalibration;
  std::string logged;  // from the calibration announcement on
  std::string wire;    // after the handshake
};
void PrintTo(const CreateFailure& c, std::ostream* os) { *os << c.name; }

const std::string NoSuchDirectory = ": No such file or directory";

const CreateFailure CreateFailures[] = {
    {"CalibrationFile", false, CalAnnounce + "\r\nCouldn't create tmv-cal.txt" + NoSuchDirectory + RestartHint,
     std::string("snum?\n") + '\0' + OwnSerialNumber + "$dia 1\n$2FC 0 2\n"},
    {"StateFile", true,
     CalAnnounce + CalWritten + StateAnnounce + "\r\nCouldn't create tmv-ste.txt" + NoSuchDirectory + RestartHint,
     CalibrationWire(OwnSerialNumber)},
};

class BackupCreateFailureTest : public BackupTest, public ::testing::WithParamInterface<CreateFailure> {};

TEST_P(BackupCreateFailureTest, OneBoxAndTheUpdateEnds) {
  const CreateFailure& c = GetParam();
  // A directory that is gone cannot take a new file, not even for root.
  const std::filesystem::path gone = WorkDir() / "gone";
  std::filesystem::create_directory(gone);
  std::filesystem::current_path(gone);
  std::string calibration;
  const auto removeIt = [&] {
    calibration = ReadWorkFile("gone/tmv-cal.txt");
    std::filesystem::remove_all(gone);
  };
  if (c.afterCalibration)
    op.WhenLogged(CalWritten, removeIt);
  else
    removeIt();
  StartInstrument(sim::DefaultMemory());
  op.Answer("Fatal Error", IDOK);
  RunToEnd();

  ASSERT_EQ(op.Boxes().size(), 2u);  // the confirmation, then this one
  EXPECT_EQ(op.Boxes()[1].caption, "Fatal Error");
  EXPECT_EQ(op.Boxes()[1].text, CreateFailureText);
  EXPECT_EQ(op.Boxes()[1].flags, MB_OK);
  EXPECT_EQ(LogFrom(CalAnnounce), c.logged);
  EXPECT_EQ(Wire(Handshake.size() + c.wire.size()), Handshake + c.wire);
  if (c.afterCalibration) {
    EXPECT_TRUE(calibration.ends_with("$sef\r\n")) << calibration;
  }
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CalBackupPending, 1);
  EXPECT_EQ(StateBackupPending, 1);
}

INSTANTIATE_TEST_SUITE_P(Files, BackupCreateFailureTest, ::testing::ValuesIn(CreateFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// Files of this process may not grow past `bytes` while it lives; a write beyond fails with
// EFBIG instead of killing the process. Only the backup files are written meanwhile.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, saved_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

struct WriteFailure {
  const char* name;
  rlim_t limit;
  std::string logged;  // the end of the log
  bool stateQueried;   // the state backup ran
  bool calibrationWritten;
};
void PrintTo(const WriteFailure& c, std::ostream* os) { *os << c.name; }

const WriteFailure WriteFailures[] = {
    {"CalibrationFile", 100, "\r\nCouldn't write tmv-cal.txt: File too large." + NotSaved + RestartHint, false, false},
    // A calibration file never exceeds 1023 bytes; the instrument's state file does.
    {"StateFile", 1024,
     "\r\nCouldn't write tmv-ste.txt: File too large.\r\nThe state was not saved.  Update Canceled." + RestartHint,
     true, true},
};

class BackupWriteFailureTest : public BackupTest, public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(BackupWriteFailureTest, ReportedAndTheOldFileKept) {
  const WriteFailure& c = GetParam();
  WriteWorkFile("tmv-cal.txt", OldCalibration);
  WriteWorkFile("tmv-ste.txt", OldState);
  StartInstrument(sim::DefaultMemory());
  {
    FileSizeLimit limit(c.limit);
    RunToEnd();
  }

  EXPECT_TRUE(op.Log().ends_with(c.logged)) << op.Log();
  EXPECT_EQ(op.Log().find(StateStored), std::string::npos);
  EXPECT_EQ(op.Log().find(CalWritten) != std::string::npos, c.calibrationWritten);
  const std::string calibration = ReadWorkFile("tmv-cal.txt");
  if (c.calibrationWritten) {
    EXPECT_TRUE(calibration.starts_with("$dia 1\r\nSNUM 12345\r\n$afs 1 ")) << calibration;
  } else {
    EXPECT_EQ(calibration, OldCalibration);
  }
  EXPECT_EQ(ReadWorkFile("tmv-ste.txt"), OldState);
  EXPECT_EQ(WorkFiles(), (std::set<std::string>{"tmv-cal.txt", "tmv-ste.txt"}));
  const std::string wire =
      Handshake + CalibrationWire(OwnSerialNumber) + (c.stateQueried ? Golden("state-queries.esc") : "");
  EXPECT_EQ(Wire(wire.size()), wire);
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
}

INSTANTIATE_TEST_SUITE_P(Files, BackupWriteFailureTest, ::testing::ValuesIn(WriteFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
