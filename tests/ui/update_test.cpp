// An update through the window: the worker's log lines, boxes and the serial number dialog reach
// the operator through the Qt event loop, against the simulated instrument.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "engine_fixture.h"
#include "instrument.h"
#include "modal_answerer.h"
#include "platform/clock.h"
#include "ui/Unit2.h"
#include "ui/Update_unit1.h"
#include "ui/port_connection.h"
#include "window_fixture.h"

namespace {

class UpdateTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    // The instrument's replies must beat the scaled read time-outs even on a loaded machine.
    platform::SetTimeScale(std::max(TestTimeScale(), 0.2));
    previousDir_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "tmv-ui-XXXXXX").string();
    workDir_ = mkdtemp(pattern.data());
    std::filesystem::current_path(workDir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previousDir_);
    std::filesystem::remove_all(workDir_);
    WindowTest::TearDown();
    platform::SetTimeScale(previousScale_);
  }

  std::filesystem::path workDir_;
  std::filesystem::path previousDir_;
  const double previousScale_ = platform::TimeScale();
};

TEST_F(UpdateTest, InvalidSerialNumberIsAskedForAndClosingStopsTheUpdate) {
  sim::Options options;
  options.memory.serial_number = "01234";  // a leading 0 marks it invalid
  sim::Instrument instrument(options);
  std::string error;
  ASSERT_TRUE(instrument.Start(error)) << error;
  setenv("TMV540_COM1", instrument.Path().c_str(), 1);

  ModalAnswerer answerer([](QWidget* modal) {
    if (modal->windowTitle() == "Serial Number Entry")
      ModalAnswerer::EnterInLineEdit("54321")(modal);
    else
      ModalAnswerer::Press(Qt::Key_Return)(modal);
  });
  TForm1 form;
  SnDialog = new TSnDialog(&form);
  form.show();
  form.N11->trigger();
  ASSERT_NE(Worker, nullptr);
  ASSERT_TRUE(RunLoopUntil([&] { return Log(form).contains("Now storing TMV540 state"); })) << Log(form).toStdString();

  QStringList captions;
  for (const auto& window : answerer.Windows()) captions << window.caption;
  EXPECT_EQ(captions, QStringList({"Update TMV540 firmware?", "Prepare your system", "Erase TMV540 Firmware?",
                                   "Serial Number Entry"}));
  EXPECT_TRUE(Log(form).contains("Calibration written.")) << Log(form).toStdString();
  EXPECT_EQ(instrument.memory().serial_number, "54321");

  EXPECT_TRUE(form.close());
  EXPECT_EQ(Worker, nullptr);
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(screen.Ended());
}

}  // namespace
