#include "modal_answerer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace {

std::vector<QPushButton*> ButtonsLeftToRight(QWidget* modal) {
  auto list = modal->findChildren<QPushButton*>();
  std::vector<QPushButton*> buttons;
  for (QPushButton* b : list)
    if (b->isVisible()) buttons.push_back(b);
  std::sort(buttons.begin(), buttons.end(),
            [](QPushButton* a, QPushButton* b) { return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x(); });
  return buttons;
}

void SendKey(QWidget* to, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(to, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(to, &release);
}

QLineEdit* LineEditOf(QWidget* modal, const QString& entry) {
  auto* edit = modal->findChild<QLineEdit*>();
  if (edit && !entry.isNull()) edit->setText(entry);
  return edit;
}

}  // namespace

ModalAnswerer::ModalAnswerer(std::vector<Action> script) : script_(script.begin(), script.end()) {
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start(5);
}

ModalAnswerer::ModalAnswerer(Action act) : ModalAnswerer(std::vector<Action>{}) { always_ = std::move(act); }

void ModalAnswerer::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible()) return;
  Seen seen;
  seen.caption = modal->windowTitle();
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    seen.text = box->text();
    seen.icon = box->icon();
  }
  for (QPushButton* b : ButtonsLeftToRight(modal)) seen.buttons << b->text().remove(QLatin1Char('&'));
  seen_.push_back(seen);
  if (script_.empty() && always_) {
    always_(modal);
    return;
  }
  if (script_.empty()) {
    ADD_FAILURE() << "unexpected window \"" << seen.caption.toStdString() << "\": " << seen.text.toStdString();
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    return;
  }
  Action act = std::move(script_.front());
  script_.pop_front();
  act(modal);
}

ModalAnswerer::Action ModalAnswerer::Press(Qt::Key key) {
  return [key](QWidget* modal) { SendKey(modal->focusWidget() ? modal->focusWidget() : modal, key); };
}

ModalAnswerer::Action ModalAnswerer::CloseByFrame() {
  return [](QWidget* modal) { modal->close(); };
}

ModalAnswerer::Action ModalAnswerer::Click(int buttonIndex) {
  return [buttonIndex](QWidget* modal) { ButtonsLeftToRight(modal).at(buttonIndex)->click(); };
}

ModalAnswerer::Action ModalAnswerer::EnterInLineEdit(const QString& entry) {
  return [entry](QWidget* modal) {
    if (QLineEdit* edit = LineEditOf(modal, entry)) {
      SendKey(edit, Qt::Key_Return);
      return;
    }
    ADD_FAILURE() << "no line edit in \"" << modal->windowTitle().toStdString() << '"';
    modal->close();
  };
}

ModalAnswerer::Action ModalAnswerer::TypeAndCloseByFrame(const QString& entry) {
  return [entry](QWidget* modal) {
    LineEditOf(modal, entry);
    modal->close();
  };
}
