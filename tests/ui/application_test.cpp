// The application object: an exception that escapes an event handler is shown, and the program
// goes on.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <stdexcept>

#include "modal_answerer.h"

namespace {

TEST(Application, ExceptionFromAHandlerIsShownAndTheLoopGoesOn) {
  ModalAnswerer answerer({ModalAnswerer::Press(Qt::Key_Return)});
  QEventLoop loop;
  bool wentOn = false;
  QTimer::singleShot(0, [] { throw std::runtime_error("Disk full"); });
  QTimer::singleShot(10, [&] {
    wentOn = true;
    loop.quit();
  });
  loop.exec();
  EXPECT_TRUE(wentOn);
  ASSERT_EQ(answerer.Windows().size(), 1u);
  EXPECT_EQ(answerer.Windows()[0].text, "Disk full");
  EXPECT_EQ(answerer.Windows()[0].icon, QMessageBox::Critical);
}

}  // namespace
