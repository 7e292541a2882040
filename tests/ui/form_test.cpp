// The main window: its start-up questions, its log, the port menu and its closing, with the
// operator's boxes answered on real Qt boxes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <string>

#include "modal_answerer.h"
#include "ui/Update_unit1.h"
#include "ui/port_connection.h"
#include "window_fixture.h"

namespace {

const auto Enter = ModalAnswerer::Press(Qt::Key_Return);

using FormTest = WindowTest;

TEST_F(FormTest, NoToTheFirstQuestionEndsTheProgramAtOnce) {
  ModalAnswerer answerer({ModalAnswerer::Click(1)});
  TForm1 form;
  ASSERT_EQ(answerer.Windows().size(), 1u);
  const auto& box = answerer.Windows()[0];
  EXPECT_EQ(box.caption, "Update TMV540 firmware?");
  EXPECT_EQ(box.text,
            "This application will update your firmware to version 093 03/06/02 14:51.\nDo you wish to continue?");
  EXPECT_EQ(box.icon, QMessageBox::Question);
  EXPECT_EQ(box.buttons, QStringList({"Yes", "No"}));
  EXPECT_TRUE(screen.Ended());
  EXPECT_EQ(Log(form), "");
}

TEST_F(FormTest, YesShowsThePreparationAndThenTheLogInvitesAPort) {
  ModalAnswerer answerer({Enter, Enter});
  TForm1 form;
  ASSERT_EQ(answerer.Windows().size(), 2u);
  const auto& box = answerer.Windows()[1];
  EXPECT_EQ(box.caption, "Prepare your system");
  const QString prepare =
      "Before updating your firmware, please make sure of the following:\n\n\n"
      "0.  The TMV540 has power and is running (the display is not black).\n\n"
      "1.  The process control option is disconnected from your vacuum system.\n\n"
      "2.  The provided serial cable is attached to the TMV540 and an unused COM port on your PC.\n\n"
      "3.  The TMV540 serial port is set for:\n"
      "          115200 baud\n          No Parity\n          8 Bit Word Length\n          Hardware flow control.\n";
  EXPECT_EQ(prepare.size(), 444);
  EXPECT_EQ(box.text, prepare);
  EXPECT_EQ(box.icon, QMessageBox::NoIcon);
  EXPECT_EQ(box.buttons, QStringList({"OK"}));
  EXPECT_FALSE(screen.Ended());

  const QStringList lines = Log(form).split('\n');
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[0].startsWith("TMV540 Update")) << lines[0].toStdString();
  EXPECT_GT(lines[0].size(), QString("TMV540 Update").size()) << "the banner names the maker too";
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Select a COM port to begin.");
  EXPECT_EQ(lines[3], "");
}

struct PortCase {
  const char* name;
  QAction* TForm1::*item;
  const char* caption;
  const char* portName;
};

void PrintTo(const PortCase& c, std::ostream* os) { *os << c.name; }

class PortMenuTest : public FormTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(PortMenuTest, MissingPortIsFatalAfterTheUsingLine) {
  ModalAnswerer answerer({Enter, Enter, Enter});
  TForm1 form;
  QAction* item = form.*GetParam().item;
  EXPECT_EQ(form.ComPort1->title(), "&Com Port");
  EXPECT_EQ(item->text(), GetParam().caption);
  EXPECT_TRUE(form.ComPort1->actions().contains(item));

  item->trigger();

  EXPECT_STREQ(PortName, GetParam().portName);
  const std::string usingLine = std::string("\nUsing ") + GetParam().portName + "...\n";
  EXPECT_TRUE(Log(form).contains(QString::fromStdString(usingLine))) << Log(form).toStdString();
  ASSERT_EQ(answerer.Windows().size(), 3u);
  const auto& box = answerer.Windows()[2];
  EXPECT_EQ(box.caption, "Fatal Error");
  EXPECT_EQ(box.text, "Couldn't Open COM port. Exiting.");
  EXPECT_EQ(box.icon, QMessageBox::NoIcon);
  EXPECT_EQ(box.buttons, QStringList({"OK"}));
  EXPECT_LT(transcript.str().find(GetParam().portName), transcript.str().find("Fatal Error"));
  EXPECT_TRUE(screen.Ended());
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Worker, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Ports, PortMenuTest,
                         ::testing::Values(PortCase{"N11", &TForm1::N11, "&1", "COM1"},
                                           PortCase{"N21", &TForm1::N21, "&2", "COM2"},
                                           PortCase{"N31", &TForm1::N31, "&3", "COM3"},
                                           PortCase{"N41", &TForm1::N41, "&4", "COM4"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormTest, MissingPortEndsTheRunningEventLoop) {
  ModalAnswerer answerer({Enter, Enter, Enter});
  TForm1 form;
  form.show();
  bool watchdog = false;
  QTimer::singleShot(0, form.N31, &QAction::trigger);
  QTimer::singleShot(10000, [&] {
    watchdog = true;
    QApplication::exit(1);
  });
  QApplication::exec();
  EXPECT_FALSE(watchdog) << "the event loop went on after the fatal box";
  EXPECT_EQ(answerer.Windows().size(), 3u);
}

TEST_F(FormTest, ClosingBeforeAnyPortMakesNoPortCall) {
  ModalAnswerer answerer({Enter, Enter});
  TForm1 form;
  form.show();
  const QString logBefore = Log(form);
  const std::string transcriptBefore = transcript.str();
  EXPECT_TRUE(form.close());
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Log(form), logBefore);
  EXPECT_EQ(transcript.str(), transcriptBefore);
}

// A pseudo-terminal stands in for a silent instrument: the worker asks whether an earlier upload
// was broken off, and on Yes it waits in its polling loop for the loader.
TEST_F(FormTest, ClosingDuringAnUpdateStopsTheWorkerAndClosesThePort) {
  struct Master {
    int fd = posix_openpt(O_RDWR | O_NOCTTY);
    ~Master() { close(fd); }
  } master;
  ASSERT_GE(master.fd, 0);
  ASSERT_EQ(grantpt(master.fd), 0);
  ASSERT_EQ(unlockpt(master.fd), 0);
  setenv("TMV540_COM1", ptsname(master.fd), 1);

  ModalAnswerer answerer({Enter, Enter, Enter});
  TForm1 form;
  form.show();
  form.N11->trigger();
  ASSERT_NE(PortHandle, INVALID_HANDLE_VALUE);
  ASSERT_NE(Worker, nullptr);
  EXPECT_TRUE(RunLoopUntil([&] { return Log(form).contains("Unplug the TMV540"); })) << Log(form).toStdString();
  ASSERT_EQ(answerer.Windows().size(), 3u);
  EXPECT_EQ(answerer.Windows()[2].caption, "Aborted upload?");

  EXPECT_TRUE(form.close());
  EXPECT_EQ(Worker, nullptr);
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(screen.Ended());
}

}  // namespace
