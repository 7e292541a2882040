#pragma once
// The serial number dialog: asks the operator for the number on the instrument's rear panel
// when the instrument reports an invalid one. Created hidden at start-up, shown modally by the
// calibration backup, never reset, so a second showing offers the last entry.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TSnDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TSnDialog(QWidget* parent = nullptr);
  ~TSnDialog() override;

  QLabel* Label1;
  QPushButton* BitBtn1;
  QLineEdit* Edit1;
  QLabel* Label2;
  QLabel* Label3;

  // The OK button: the entry goes to ReplyBuffer, at most 5 characters and a NUL.
  void BitBtn1Click();
};

extern TSnDialog* SnDialog;
