#pragma once
// Plays the operator at the screen: each modal window that opens is recorded and answered with
// the next scripted action, as a person would answer it (keys, the frame's close button, a click).
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <vector>

class ModalAnswerer {
 public:
  using Action = std::function<void(QWidget* modal)>;

  struct Seen {
    QString caption;
    QString text;  // a message box's text; empty for other windows
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;  // captions without '&', left to right as shown
  };

  explicit ModalAnswerer(std::vector<Action> script);
  // Answers every window that opens with `act`.
  explicit ModalAnswerer(Action act);

  const std::vector<Seen>& Windows() const { return seen_; }
  // Scripted actions not used, because fewer windows opened than expected.
  int Unused() const { return static_cast<int>(script_.size()); }

  // The actions.
  static Action Press(Qt::Key key);      // key to the focused control, as typed
  static Action CloseByFrame();          // the frame's close button
  static Action Click(int buttonIndex);  // a button by its place, left to right
  // Types `entry` into the window's line edit (replacing its text) and presses Enter there;
  // a null entry leaves the text as it is.
  static Action EnterInLineEdit(const QString& entry = QString());
  // Types into the line edit and closes the window by its frame.
  static Action TypeAndCloseByFrame(const QString& entry);

 private:
  void Poll();

  QTimer timer_;
  std::deque<Action> script_;
  Action always_;
  std::vector<Seen> seen_;
};
