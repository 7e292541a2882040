// The log: texts go in at the caret as the system's 8-bit text, with CR LF line breaks.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QScrollBar>
#include <vector>

#include "platform/qt/qt_operator.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  QPlainTextEdit log;
  platform::QtOperator screen{{.log = [this] { return &log; }}};

  void Append(std::initializer_list<std::string_view> texts) {
    for (auto text : texts) screen.AppendToLog(text);
  }
  void PlaceCaret(int from, int to) {
    QTextCursor caret = log.textCursor();
    caret.setPosition(from);
    caret.setPosition(to, QTextCursor::KeepAnchor);
    log.setTextCursor(caret);
  }
};

struct DisplayCase {
  const char* name;
  std::vector<std::string_view> texts;
  const char* shown;  // UTF-8
};

void PrintTo(const DisplayCase& c, std::ostream* os) { *os << c.name; }

class LogDisplayTest : public LogTest, public ::testing::WithParamInterface<DisplayCase> {};

TEST_P(LogDisplayTest, ShowsLinesAsWritten) {
  for (auto text : GetParam().texts) screen.AppendToLog(text);
  EXPECT_EQ(log.toPlainText(), QString::fromUtf8(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(Texts, LogDisplayTest,
                         ::testing::Values(DisplayCase{"CrLfLines", {"first\r\n", "second\r\n"}, "first\nsecond\n"},
                                           DisplayCase{"CrLfSplitOverTwoTexts", {"reply\r", "\nmore"}, "reply\nmore"},
                                           DisplayCase{"LoneCrBreaks", {"a\rb"}, "a\nb"},
                                           DisplayCase{"CrThenCrLfIsTwoBreaks", {"a\r", "\r\nb"}, "a\n\nb"},
                                           DisplayCase{"LfLines", {"a\n\nb"}, "a\n\nb"},
                                           DisplayCase{"Latin1",
                                                       {"20\xB0"
                                                        "C, 5 \xB5m"},
                                                       "20°C, 5 µm"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogTest, TextGoesInAtAMovedCaretAndTheCaretFollowsIt) {
  Append({"first\r\n", "second\r\n"});
  PlaceCaret(2, 2);
  Append({"XY", "Z"});
  EXPECT_EQ(log.toPlainText(), "fiXYZrst\nsecond\n");
  EXPECT_EQ(log.textCursor().position(), 5);
}

TEST_F(LogTest, TextReplacesASelection) {
  Append({"first\r\n", "second\r\n"});
  PlaceCaret(6, 12);
  Append({"2nd"});
  EXPECT_EQ(log.toPlainText(), "first\n2nd\n");
}

TEST_F(LogTest, TheViewFollowsTheCaret) {
  log.resize(200, 100);
  log.show();
  auto caretShown = [this] { return log.viewport()->rect().contains(log.cursorRect()); };
  for (int i = 0; i < 50; ++i) Append({"line\r\n"});
  ASSERT_GT(log.verticalScrollBar()->maximum(), 0);
  EXPECT_TRUE(caretShown());
  PlaceCaret(0, 0);
  log.verticalScrollBar()->setValue(log.verticalScrollBar()->maximum());
  Append({"top"});
  EXPECT_TRUE(caretShown());
}

TEST_F(LogTest, LfAfterCrJoinsOnlyWhereTheCrEnded) {
  Append({"abc\r"});
  PlaceCaret(0, 0);
  Append({"\nX"});
  EXPECT_EQ(log.toPlainText(), "\nXabc\n");
}

}  // namespace
