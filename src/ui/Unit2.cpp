#include "ui/Unit2.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/qt/display_text.h"
#include "ui/port_connection.h"

TSnDialog* SnDialog = nullptr;

namespace {

// The serial number is five characters; the buffer copy is 6 bytes with its NUL.
constexpr std::size_t SerialNumberLength = 5;

// A label that takes the width of its text, placed by its top-left corner.
QLabel* PlacedLabel(QWidget* parent, const char* caption, int left, int top) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

}  // namespace

TSnDialog::TSnDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Serial Number Entry"));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  move(307, 228);
  resize(302, 247);

  Label1 = PlacedLabel(this, "Your serial number is invalid.", 80, 8);
  Label2 = PlacedLabel(this, "The correct number is on the rear panel of the TMV540.", 16, 40);
  Label3 = PlacedLabel(this, "Enter the correct serial number below and click on OK.", 24, 72);

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
  BitBtn1->setGeometry(112, 168, 75, 25);
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, [this] {
    BitBtn1Click();
    accept();
  });

  Edit1 = new QLineEdit(QStringLiteral("12345"), this);
  Edit1->setGeometry(128, 112, 41, 21);
  setTabOrder(BitBtn1, Edit1);

  // Fonts other than the one the layout was drawn with may be wider: keep every line readable.
  int right = std::max({Label1->geometry().right(), Label2->geometry().right(), Label3->geometry().right()});
  if (right + 16 > width()) resize(right + 16, height());
}

TSnDialog::~TSnDialog() {
  if (SnDialog == this) SnDialog = nullptr;
}

void TSnDialog::BitBtn1Click() {
  std::string entry = platform::SystemText(Edit1->text());
  std::size_t n = std::min(entry.size(), SerialNumberLength);
  std::memcpy(ReplyBuffer, entry.data(), n);
  ReplyBuffer[n] = '\0';
}
