// The serial number dialog: what the operator's entry leaves in the receive buffer.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <cstring>
#include <string>

#include "modal_answerer.h"
#include "platform/qt/qt_operator.h"
#include "ui/Unit2.h"
#include "ui/port_connection.h"

namespace {

// Marks the buffer so that bytes the dialog must not touch can be told apart.
constexpr char Untouched = 'x';

class SnDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(ReplyBuffer, Untouched, sizeof ReplyBuffer); }

  TSnDialog dialog;
  platform::QtOperator screen{
      {.serialNumberDialog = [this] { return &dialog; }, .serialNumberEdit = [this] { return dialog.Edit1; }}};

  // The buffer as the worker reads it: text up to the first NUL. Checks that nothing after
  // that NUL was written.
  std::string SerialNumberText() const {
    std::string text(ReplyBuffer, strnlen(ReplyBuffer, sizeof ReplyBuffer));
    for (std::size_t i = text.size() + 1; i < sizeof ReplyBuffer; ++i)
      EXPECT_EQ(ReplyBuffer[i], Untouched) << "byte " << i;
    return text;
  }
};

struct EntryCase {
  const char* name;
  ModalAnswerer::Action act;
  bool confirmed;
  std::string bufferText;  // what the buffer reads as afterwards
  std::string entry;       // what the edit box holds
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }

class SnEntryTest : public SnDialogTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(SnEntryTest, EntryReachesTheBuffer) {
  ModalAnswerer answerer({GetParam().act});
  EXPECT_EQ(screen.ShowSerialNumberDialog(), GetParam().confirmed);
  EXPECT_EQ(answerer.Windows().size(), 1u);
  EXPECT_EQ(SerialNumberText(), GetParam().bufferText);
  EXPECT_EQ(screen.SerialNumberEntry(), GetParam().entry);
  EXPECT_FALSE(dialog.isVisible());
}

const std::string allUntouched(ReplyBufferSize, Untouched);

INSTANTIATE_TEST_SUITE_P(
    Entries, SnEntryTest,
    ::testing::Values(EntryCase{"DefaultByEnter", ModalAnswerer::EnterInLineEdit(), true, "12345", "12345"},
                      EntryCase{"LongCutToFive", ModalAnswerer::EnterInLineEdit("1234567"), true, "12345", "1234567"},
                      EntryCase{"ShortKept", ModalAnswerer::EnterInLineEdit("A1"), true, "A1", "A1"},
                      EntryCase{"Empty", ModalAnswerer::EnterInLineEdit(""), true, "", ""},
                      EntryCase{"Latin1",
                                ModalAnswerer::EnterInLineEdit(QString::fromUtf8("\xC2\xB5"
                                                                                 "42")),
                                true,
                                "\xB5"
                                "42",
                                "\xB5"
                                "42"},
                      EntryCase{"OkButton", ModalAnswerer::Click(0), true, "12345", "12345"},
                      EntryCase{"ClosedByFrame", ModalAnswerer::TypeAndCloseByFrame("99999"), false, allUntouched,
                                "99999"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SnDialogTest, SecondShowingOffersTheLastEntry) {
  ModalAnswerer answerer({ModalAnswerer::EnterInLineEdit("777"), ModalAnswerer::EnterInLineEdit()});
  screen.ShowSerialNumberDialog();
  std::memset(ReplyBuffer, Untouched, sizeof ReplyBuffer);
  EXPECT_TRUE(screen.ShowSerialNumberDialog());
  EXPECT_EQ(answerer.Windows().size(), 2u);
  EXPECT_EQ(SerialNumberText(), "777");
}

}  // namespace
