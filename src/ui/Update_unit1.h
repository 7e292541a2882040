#pragma once
// The main window: the log that every part of the program reports to, and the menu from which
// the operator picks the serial port. Its creation asks the two start-up questions.
#include <QMainWindow>

class QAction;
class QMenu;
class QMenuBar;
class QPlainTextEdit;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  QPlainTextEdit* Memo1;
  QMenuBar* MainMenu1;
  QMenu* ComPort1;
  QAction* N11;
  QAction* N21;
  QAction* N31;
  QAction* N41;

  // Runs once while the window is being created, before it is first shown.
  void FormCreate();
  void N11Click();
  void N21Click();
  void N31Click();
  void N41Click();

 protected:
  // Closing the window stops a running update and closes the port; it is never refused.
  void closeEvent(QCloseEvent* event) override;

 private:
  void PickPort(const char* name);
};

extern TForm1* Form1;
