#pragma once
// The operator at a Qt screen: the log is a QPlainTextEdit, boxes are QMessageBoxes and the
// serial number dialog is a QDialog with a line edit. UI thread only; the free functions of
// operator.h bring every call there.
#include <QPointer>
#include <functional>

#include "platform/operator.h"

class QDialog;
class QLineEdit;
class QPlainTextEdit;

namespace platform {

// Looked up at each call: the window and the dialog are created after the operator is
// installed, and the window already writes to its log while it is being created.
struct QtOperatorWidgets {
  std::function<QPlainTextEdit*()> log = {};
  std::function<QDialog*()> serialNumberDialog = {};
  std::function<QLineEdit*()> serialNumberEdit = {};
};

class QtOperator final : public Operator {
 public:
  explicit QtOperator(QtOperatorWidgets widgets);

  void AppendToLog(std::string_view text) override;
  int ShowMessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  bool ShowSerialNumberDialog() override;
  std::string SerialNumberEntry() override;
  void EndApplication() override;

  // True once EndApplication() was called; main() then does not start the event loop.
  bool Ended() const { return ended_; }

 private:
  QtOperatorWidgets widgets_;
  bool ended_ = false;
  // Where the last text ended when its last byte was a CR: an LF that opens the next text at
  // that very place completes the same line break (replies arrive in arbitrary pieces).
  QPointer<QPlainTextEdit> crLog_;
  int crPosition_ = -1;
};

}  // namespace platform
