#include "window_fixture.h"

#include <stdlib.h>

#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>

#include "engine/Update_unit2.h"
#include "ui/Unit2.h"
#include "ui/Update_unit1.h"
#include "ui/port_connection.h"

WindowTest::WindowTest()
    : screen({.log = [] { return Form1 ? Form1->Memo1 : nullptr; },
              .serialNumberDialog = [] { return SnDialog; },
              .serialNumberEdit = [] { return SnDialog->Edit1; }}) {}

void WindowTest::SetUp() {
  ResetProgressState();
  platform::InstallOperator(&screen);
  platform::SetTranscript(&transcript);
  for (const char* port : {"TMV540_COM1", "TMV540_COM2", "TMV540_COM3", "TMV540_COM4"}) setenv(port, MissingDevice, 1);
}

void WindowTest::TearDown() {
  // A case that failed half-way leaves no worker behind for the next one.
  if (Worker) StopWorker();
  platform::SetTranscript(nullptr);
}

QString WindowTest::Log(const TForm1& form) { return form.Memo1->toPlainText(); }

bool WindowTest::RunLoopUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  check.start(5);
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}
