#pragma once
// The application object: it makes the calling thread the UI thread, lets the worker wake the
// event loop, lays out every dialog's buttons in Windows order, and shows an exception that
// escapes an event handler in an error box instead of ending the program.
#include <QApplication>
#include <exception>

namespace platform {

class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
  ~Application() override;
  bool notify(QObject* receiver, QEvent* event) override;
};

// The standard error box for an exception: the application's name and the exception's text.
void ShowException(const std::exception& e);

}  // namespace platform
