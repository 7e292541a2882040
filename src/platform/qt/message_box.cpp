#include "platform/qt/message_box.h"

#include <QMessageBox>
#include <QPushButton>
#include <map>
#include <vector>

#include "platform/operator.h"
#include "platform/qt/display_text.h"

namespace platform {
namespace {

struct BoxButton {
  QMessageBox::StandardButton button;
  int answer;
};

// In the order the operator sees them; the first is the default.
std::vector<BoxButton> ButtonsOf(unsigned flags) {
  switch (flags & MB_BUTTONS) {
    case MB_OKCANCEL:
      return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_YESNO:
      return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
    default:
      return {{QMessageBox::Ok, IDOK}};
  }
}

QMessageBox::Icon IconOf(unsigned flags) {
  switch (flags & MB_ICONS) {
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

int RunMessageBox(QWidget* parent, std::string_view text, std::string_view caption, unsigned flags) {
  QMessageBox box(IconOf(flags), DisplayText(caption), DisplayText(text), QMessageBox::NoButton, parent);
  // The texts are plain: a '<' from the instrument must not switch the box to rich text.
  box.setTextFormat(Qt::PlainText);
  std::map<QAbstractButton*, int> answers;
  for (const BoxButton& b : ButtonsOf(flags)) {
    QPushButton* button = box.addButton(b.button);
    answers[button] = b.answer;
    if (answers.size() == 1) box.setDefaultButton(button);
    // Escape and the frame's close button press this one, so the answer is the same either way.
    if (b.answer == ClosedBoxAnswer(flags)) box.setEscapeButton(button);
  }
  box.exec();
  auto it = answers.find(box.clickedButton());
  return it != answers.end() ? it->second : ClosedBoxAnswer(flags);
}

}  // namespace platform
