// The operator's message boxes: Windows buttons, default and answers on real Qt boxes.
#include <gtest/gtest.h>

#include "modal_answerer.h"
#include "platform/qt/qt_operator.h"

namespace {

platform::QtOperator BoxOnlyOperator() { return platform::QtOperator({}); }

struct AnswerCase {
  const char* name;
  unsigned flags;
  ModalAnswerer::Action act;
  int expected;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class BoxAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(BoxAnswerTest, OperatorActionGivesWindowsAnswer) {
  platform::QtOperator screen = BoxOnlyOperator();
  ModalAnswerer answerer({GetParam().act});
  EXPECT_EQ(screen.ShowMessageBox("Question?", "Caption", GetParam().flags), GetParam().expected);
  EXPECT_EQ(answerer.Windows().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BoxAnswerTest,
    ::testing::Values(AnswerCase{"OkEnter", MB_OK, ModalAnswerer::Press(Qt::Key_Return), IDOK},
                      AnswerCase{"OkEscape", MB_OK, ModalAnswerer::Press(Qt::Key_Escape), IDOK},
                      AnswerCase{"OkFrame", MB_OK, ModalAnswerer::CloseByFrame(), IDOK},
                      AnswerCase{"OkCancelEnter", MB_OKCANCEL, ModalAnswerer::Press(Qt::Key_Return), IDOK},
                      AnswerCase{"OkCancelEscape", MB_OKCANCEL, ModalAnswerer::Press(Qt::Key_Escape), IDCANCEL},
                      AnswerCase{"OkCancelFrame", MB_OKCANCEL, ModalAnswerer::CloseByFrame(), IDCANCEL},
                      AnswerCase{"OkCancelSecond", MB_OKCANCEL | MB_ICONEXCLAMATION, ModalAnswerer::Click(1), IDCANCEL},
                      AnswerCase{"YesNoEnter", MB_YESNO | MB_ICONQUESTION, ModalAnswerer::Press(Qt::Key_Return), IDYES},
                      AnswerCase{"YesNoEscape", MB_YESNO, ModalAnswerer::Press(Qt::Key_Escape), IDNO},
                      AnswerCase{"YesNoFrame", MB_YESNO | MB_ICONQUESTION, ModalAnswerer::CloseByFrame(), IDNO},
                      AnswerCase{"YesNoSecond", MB_YESNO, ModalAnswerer::Click(1), IDNO}),
    [](const auto& info) { return std::string(info.param.name); });

struct LookCase {
  const char* name;
  unsigned flags;
  QStringList buttons;
  QMessageBox::Icon icon;
};

void PrintTo(const LookCase& c, std::ostream* os) { *os << c.name; }

class BoxLookTest : public ::testing::TestWithParam<LookCase> {};

TEST_P(BoxLookTest, ButtonsInWindowsOrderWithIcon) {
  platform::QtOperator screen = BoxOnlyOperator();
  ModalAnswerer answerer({ModalAnswerer::CloseByFrame()});
  screen.ShowMessageBox("Text", "Caption", GetParam().flags);
  ASSERT_EQ(answerer.Windows().size(), 1u);
  EXPECT_EQ(answerer.Windows()[0].buttons, GetParam().buttons);
  EXPECT_EQ(answerer.Windows()[0].icon, GetParam().icon);
}

INSTANTIATE_TEST_SUITE_P(
    Looks, BoxLookTest,
    ::testing::Values(
        LookCase{"Ok", MB_OK, {"OK"}, QMessageBox::NoIcon},
        LookCase{"OkCancelExclamation", MB_OKCANCEL | MB_ICONEXCLAMATION, {"OK", "Cancel"}, QMessageBox::Warning},
        LookCase{"YesNoQuestion", MB_YESNO | MB_ICONQUESTION, {"Yes", "No"}, QMessageBox::Question}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BoxText, EightBitTextWithItsLineBreaksAndTabsShownFaithfully) {
  platform::QtOperator screen = BoxOnlyOperator();
  ModalAnswerer answerer({ModalAnswerer::Press(Qt::Key_Return)});
  screen.ShowMessageBox(
      "Pressure <1 \xB5"
      "bar\r\nnext line\n\tindented 20\xB0"
      "C",
      "Gauge \xB5", MB_OK);
  ASSERT_EQ(answerer.Windows().size(), 1u);
  EXPECT_EQ(answerer.Windows()[0].caption, QString::fromUtf8("Gauge µ"));
  EXPECT_EQ(answerer.Windows()[0].text, QString::fromUtf8("Pressure <1 µbar\nnext line\n\tindented 20°C"));
}

}  // namespace
