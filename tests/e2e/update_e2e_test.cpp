// The operator's whole road through an update, in the real window, against a simulated TMV540
// whose automatic operator works its front panel as the log asks: the successful update, and the
// recovery after the power failed in the middle of the transfer. Afterwards the instrument must
// hold what it held before, under the new firmware, and the log must read as it always has.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Update_unit2.h"
#include "engine_fixture.h"
#include "firmware/firmware.h"
#include "firmware_file.h"
#include "instrument.h"
#include "modal_answerer.h"
#include "platform/clock.h"
#include "platform/qt/qt_operator.h"
#include "ui/Unit2.h"
#include "ui/Update_unit1.h"
#include "ui/port_connection.h"

namespace {

// OK in an OK box, Yes in a Yes/No box: the first button, as the operator reads them.
const ModalAnswerer::Action First = ModalAnswerer::Click(0);

// The end of the log when the loader fell silent, as the window shows it.
constexpr char CancelledTransfer[] =
    "\nNo reply from TMV540 during upload.  Update Canceled."
    "\nIf you need to restart TMV Update, re-select the COM port.";

class UpdateEndToEnd : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    // The whole road rests on the instrument's answers arriving within single reads (the
    // identity reply, the calibration burst, each state reply); a read's time-out must leave a
    // busy machine room for that.
    platform::SetTimeScale(std::max(TestTimeScale(), 0.2));
    // The window's own operator takes over from the fixture's scripted one.
    platform::InstallOperator(&screen_);
    platform::SetTranscript(&transcript_);
    line_ = (WorkDir() / "ttyTMV540").string();
    setenv("TMV540_COM1", line_.c_str(), 1);
  }

  void TearDown() override {
    platform::SetTranscript(nullptr);
    EngineTest::TearDown();
  }

  // The instrument on the line that COM1 leads to, its operator at hand.
  sim::Options InstrumentOptions() const {
    sim::Options options;
    options.auto_operator = true;
    options.link_path = line_;
    return options;
  }

  static std::unique_ptr<sim::Instrument> StartInstrument(sim::Options options) {
    auto instrument = std::make_unique<sim::Instrument>(std::move(options));
    std::string error;
    EXPECT_TRUE(instrument->Start(error)) << error;
    return instrument;
  }

  // The program starting, as main() starts it: the window, whose creation asks the two start-up
  // questions, and the hidden serial number dialog.
  static std::unique_ptr<TForm1> StartProgram() {
    ResetProgressState();
    auto form = std::make_unique<TForm1>();
    SnDialog = new TSnDialog(form.get());
    return form;
  }

  // The operator picks "&1" from the "&Com Port" menu.
  void PickFirstPort(TForm1& form) {
    dateBefore_ = TodayAsDownloadDate();
    form.N11->trigger();
  }

  // Runs the window's event loop until `done` holds; false if it never did.
  static bool RunLoopUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
      if (done()) loop.quit();
    });
    check.start(5);
    QTimer::singleShot(std::chrono::minutes(4), &loop, &QEventLoop::quit);
    loop.exec();
    return done();
  }

  static bool UpdateEnded() { return Worker == nullptr; }

  static std::string Log(const TForm1& form) { return form.Memo1->toPlainText().toStdString(); }

  static std::vector<std::string> Captions(const ModalAnswerer& answerer) {
    std::vector<std::string> captions;
    for (const auto& window : answerer.Windows()) captions.push_back(window.caption.toStdString());
    return captions;
  }

  // The instrument holds what it held before, under the firmware the program carries, with the
  // date of the update as its download date.
  void ExpectCarriedAcross(const sim::Memory& before, const sim::Memory& after) const {
    EXPECT_EQ(after.serial_number, before.serial_number);
    EXPECT_EQ(after.calibration.size(), 38u);
    EXPECT_EQ(after.calibration, before.calibration);
    EXPECT_EQ(after.saved_serial_number, before.serial_number);
    EXPECT_EQ(after.saved_calibration, before.calibration);
    EXPECT_EQ(after.settings.size(), 226u);
    EXPECT_EQ(after.settings, before.settings);
    EXPECT_EQ(after.firmware_version, "093");
    EXPECT_EQ(after.build_stamp, "03/06/02 14:51");
    const std::string dateAfter = TodayAsDownloadDate();
    EXPECT_TRUE(after.download_date == dateBefore_ || after.download_date == dateAfter) << after.download_date;
    for (int k = 0; k < FirmwareFileCount; ++k) {
      const unsigned char* payload = FirmwareImage + k * FirmwareFileSize + sim::PayloadOffset;
      EXPECT_EQ(after.flash_files[k], sim::PayloadDigest(payload, sim::PayloadSize)) << "file " << k + 1;
    }
  }

  // The golden files hold what the operator saw; TMV_E2E_WRITE_GOLDEN=1 writes them afresh.
  static void ExpectGolden(const std::string& name, const std::string& actual) {
    const std::filesystem::path path = std::filesystem::path(TMV_E2E_GOLDEN_DIR) / name;
    if (std::getenv("TMV_E2E_WRITE_GOLDEN")) {
      std::ofstream(path, std::ios::binary) << actual;
      return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "no golden file " << path;
    const std::string golden{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(actual, golden) << "differs from " << path;
  }

  std::string dateBefore_;
  std::ostringstream transcript_;

 private:
  platform::QtOperator screen_{{
      .log = [] { return Form1 ? Form1->Memo1 : nullptr; },
      .serialNumberDialog = [] { return SnDialog; },
      .serialNumberEdit = [] { return SnDialog->Edit1; },
  }};
  std::string line_;
};

TEST_F(UpdateEndToEnd, UpdateCarriesSerialNumberCalibrationAndSettingsAcrossTheNewFirmware) {
  auto instrument = StartInstrument(InstrumentOptions());
  const sim::Memory before = instrument->memory();
  ModalAnswerer operatorAtScreen({First, First, First, First});
  auto form = StartProgram();

  PickFirstPort(*form);
  ASSERT_TRUE(RunLoopUntil(UpdateEnded));

  EXPECT_EQ(Captions(operatorAtScreen), (std::vector<std::string>{"Update TMV540 firmware?", "Prepare your system",
                                                                  "Erase TMV540 Firmware?", "Upload Complete"}));
  ExpectCarriedAcross(before, instrument->memory());
  EXPECT_EQ(instrument->power(), sim::Power::Running);
  EXPECT_NE(ReadWorkFile("tmv-cal.txt").find("SNUM 12345"), std::string::npos);
  EXPECT_NE(ReadWorkFile("tmv-ste.txt").find("VOLC "), std::string::npos);
  ExpectGolden("update.log", Log(*form));
  ExpectGolden("update.transcript", transcript_.str());
}

TEST_F(UpdateEndToEnd, AfterThePowerFailsInTheTransferARestartedProgramFinishesTheUpdate) {
  sim::Options failing = InstrumentOptions();
  failing.device.faults.power_loss_in = 5;
  auto instrument = StartInstrument(failing);
  const sim::Memory before = instrument->memory();
  std::string logs;

  {
    ModalAnswerer operatorAtScreen({First, First, First});
    auto form = StartProgram();
    PickFirstPort(*form);
    ASSERT_TRUE(RunLoopUntil(UpdateEnded));
    EXPECT_EQ(Captions(operatorAtScreen),
              (std::vector<std::string>{"Update TMV540 firmware?", "Prepare your system", "Erase TMV540 Firmware?"}));
    EXPECT_EQ(instrument->power(), sim::Power::Off);
    const std::string log = Log(*form);
    EXPECT_TRUE(log.ends_with(CancelledTransfer)) << log;
    logs = log + "\n----- the program is started again -----\n";
    form->close();
  }
  const std::string calFile = ReadWorkFile("tmv-cal.txt");
  const std::string stateFile = ReadWorkFile("tmv-ste.txt");
  ASSERT_FALSE(calFile.empty());
  ASSERT_FALSE(stateFile.empty());

  // The failure was a one-off: the same instrument, with the memory it was left with, stays
  // switched off on the line until the operator starts it again.
  sim::Options resumed = InstrumentOptions();
  resumed.memory = instrument->memory();
  resumed.device.start = sim::Power::Off;
  instrument.reset();
  instrument = StartInstrument(resumed);

  ModalAnswerer operatorAtScreen({First, First, First, First});
  auto form = StartProgram();
  PickFirstPort(*form);
  ASSERT_TRUE(RunLoopUntil([&] { return UpdateEnded() || Log(*form).find("Unplug the TMV540") != std::string::npos; }));
  // As the log asks, and as the log of the state backup told how: into the loader.
  instrument->PressPowerWithIg1Degas();
  ASSERT_TRUE(RunLoopUntil(UpdateEnded));

  EXPECT_EQ(Captions(operatorAtScreen), (std::vector<std::string>{"Update TMV540 firmware?", "Prepare your system",
                                                                  "Aborted upload?", "Upload Complete"}));
  int files = 0;
  for (const auto& item : instrument->Received()) {
    if (item.kind == sim::Received::Kind::File) {
      EXPECT_EQ(item.text, "file " + std::to_string(++files));
    }
  }
  EXPECT_EQ(files, FirmwareFileCount);
  ExpectCarriedAcross(before, instrument->memory());
  // The restore only read the files of the broken-off attempt.
  EXPECT_EQ(ReadWorkFile("tmv-cal.txt"), calFile);
  EXPECT_EQ(ReadWorkFile("tmv-ste.txt"), stateFile);
  ExpectGolden("recovery.log", logs + Log(*form));
  ExpectGolden("recovery.transcript", transcript_.str());
}

}  // namespace
