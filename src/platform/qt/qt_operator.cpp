#include "platform/qt/qt_operator.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>

#include "platform/qt/display_text.h"
#include "platform/qt/message_box.h"

namespace platform {

QtOperator::QtOperator(QtOperatorWidgets widgets) : widgets_(std::move(widgets)) {}

void QtOperator::AppendToLog(std::string_view text) {
  QPlainTextEdit* log = widgets_.log ? widgets_.log() : nullptr;
  if (!log) return;
  QTextCursor caret = log->textCursor();
  if (!text.empty() && text.front() == '\n' && crLog_ == log && caret.position() == crPosition_ &&
      !caret.hasSelection())
    text.remove_prefix(1);
  caret.insertText(DisplayText(text));
  // Handing the caret back to the widget also scrolls it into view.
  log->setTextCursor(caret);
  crLog_ = log;
  crPosition_ = !text.empty() && text.back() == '\r' ? caret.position() : -1;
}

int QtOperator::ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  return RunMessageBox(QApplication::activeWindow(), text, caption, flags);
}

bool QtOperator::ShowSerialNumberDialog() { return widgets_.serialNumberDialog()->exec() == QDialog::Accepted; }

std::string QtOperator::SerialNumberEntry() { return SystemText(widgets_.serialNumberEdit()->text()); }

void QtOperator::EndApplication() {
  ended_ = true;
  // Queued, so the handler that asked returns first; before the loop has started this does
  // nothing, and main() sees Ended() instead.
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

}  // namespace platform
