// The program's entry: the application object, the main window (whose creation asks the two
// start-up questions), the hidden serial number dialog, and the event loop.
#include <QLineEdit>
#include <exception>
#include <iostream>
#include <memory>

#include "platform/qt/application.h"
#include "platform/qt/qt_operator.h"
#include "ui/Unit2.h"
#include "ui/Update_unit1.h"
#include "ui/port_connection.h"

int main(int argc, char** argv) {
  platform::Application app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TMV540 Update"));
  // Everything the operator is told and answers also goes to standard output, for the record.
  platform::SetTranscript(&std::cout);
  platform::QtOperator screen({
      .log = [] { return Form1 ? Form1->Memo1 : nullptr; },
      .serialNumberDialog = [] { return SnDialog; },
      .serialNumberEdit = [] { return SnDialog->Edit1; },
  });
  platform::InstallOperator(&screen);
  try {
    auto window = std::make_unique<TForm1>();
    SnDialog = new TSnDialog(window.get());
    if (!screen.Ended()) {
      window->show();
      QApplication::exec();
    }
    // However the loop ended, no worker is left running behind the program's back.
    StopWorker();
  } catch (const std::exception& e) {
    platform::ShowException(e);
  }
  return 0;
}
