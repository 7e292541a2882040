#include "platform/qt/application.h"

#include <QDialogButtonBox>
#include <QMessageBox>
#include <QProxyStyle>
#include <QStyleFactory>

#include "platform/ui_thread.h"

namespace platform {
namespace {

// The operator's instructions name buttons by place as well as by caption, so OK and Yes come
// first whatever the desktop's habit.
class WindowsButtonOrder : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_DialogButtonLayout) return QDialogButtonBox::WinLayout;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  MarkUiThread();
  setStyle(new WindowsButtonOrder(QStyleFactory::create(style()->name())));
  // A worker's request arrives while the loop waits for events: a queued call serves it.
  SetUiWakeHook([] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(
          app, [] { ServeUiRequests(); }, Qt::QueuedConnection);
  });
}

Application::~Application() { SetUiWakeHook(nullptr); }

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e);
    return false;
  }
}

void ShowException(const std::exception& e) {
  QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(),
                        QString::fromLocal8Bit(e.what()));
}

}  // namespace platform
