// The handshake against a scripted instrument: the bytes it sends, and where each kind of
// identity reply leads: the aborted-upload question, the short-answer hint or the confirmation.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "engine/Update_unit2.h"
#include "peer_test.h"
#include "platform/operator.h"
#include "platform/ui_thread.h"
#include "ui/port_connection.h"

namespace {

const std::string NoReplyHint =
    "\r\nNo Reply from TMV540.\r\nIs the baud rate at 115200 bps?\r\nAre you using the right COM port?";
const std::string ShortReplyHint =
    "\r\nBad Reply from TMV540.\r\nIs the baud rate at 115200 bps?\r\nAre you using the right COM port?";
const std::string Canceled = "\r\nUpdate Canceled.";
const std::string AbortedUploadText = "\nNo reply from TMV540.\nDid you already attempt a firmware upload?";
// The first thing the calibration backup sends, with its NUL.
const std::string SerialNumberQuery = std::string("snum?\n") + '\0';

// The confirmation as the operator reads it, with the three fields cut from the identity reply.
std::string Confirmation(const std::string& version, const std::string& text, const std::string& date) {
  return "You are about to replace\nTMV540 firmware version\n" + version + " " + text + "\ndownloaded on " + date +
         "\n\twith\nTMV540 firmware version\n093 03/06/02 14:51\nAre you sure you want to do this?";
}

// 200 bytes: the version, a build text, filler, and the download date just before the last byte.
std::string FullReply() {
  std::string reply = "092\r\n11/30/01 16:05 rev B\r\n";
  reply.resize(191, '.');
  return reply + "30Nov01Z" + "!";
}

struct Box {
  std::string caption;
  std::string text;
  unsigned flags;
};

struct HandshakeCase {
  const char* name;
  std::optional<std::string> identity;  // the reply to the identity query; none: silence
  std::optional<int> answer;            // the operator's answer; none: the box is closed by its frame
  std::optional<Box> box;               // the box shown; none: no box at all
  std::string logged;                   // the line the outcome logs, if any
  std::string next;                     // what the worker sends after the handshake, if anything
  bool ends;                            // the update ends through FinishUpdate
};

const Box AbortedUpload{"Aborted upload?", AbortedUploadText, MB_YESNO | MB_ICONQUESTION};
Box Confirm(const std::string& text) { return {"Erase TMV540 Firmware?", text, MB_OKCANCEL | MB_ICONEXCLAMATION}; }

// gtest names a failing case by this.
void PrintTo(const HandshakeCase& c, std::ostream* os) { *os << c.name; }

const HandshakeCase Cases[] = {
    {"SilenceThenYesSkipsBothBackups", std::nullopt, IDYES, AbortedUpload, PowerHint, "", false},
    {"SilenceThenNoEnds", std::nullopt, IDNO, AbortedUpload, NoReplyHint, "", true},
    {"FourteenBytesAreAShortAnswer", "0123456789ABCD", std::nullopt, std::nullopt, ShortReplyHint, "", true},
    // Field B stops at the NUL that replaces the last byte; field C is the eight bytes before it.
    {"FifteenBytesThenOkStartsTheBackup", "0123456789ABCDE", IDOK,
     Confirm(Confirmation("012", "56789ABCD", "6789ABCD")), "", SerialNumberQuery, true},
    {"TwoHundredBytesThenCancel", FullReply(), IDCANCEL, Confirm(Confirmation("092", "11/30/01 16:0", "30Nov01Z")),
     Canceled, "", true},
    // A NUL received inside a field shortens it; closing the box counts as Cancel.
    {"NulInAFieldThenBoxClosed", std::string("093\r\nAB") + '\0' + "CDEFGHIJKLMN", std::nullopt,
     Confirm(Confirmation("093", "AB", "FGHIJKLM")), Canceled, "", true},
};

class HandshakeTest : public PeerTest, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(HandshakeTest, RepliesLeadOnAsTheOperatorDecides) {
  const HandshakeCase& c = GetParam();
  if (c.identity) peer.When(IdentityQuery, *c.identity);
  if (c.answer) op.Answer(c.box->caption, *c.answer);
  // After OK the calibration backup asks a silent instrument for its serial number, then fails.
  op.CloseSerialNumberDialog();

  PickPort(peer.DevicePath());
  if (c.ends) {
    WaitForWorker();
  } else {
    // Give the loop some passes to show that it sends nothing, then stop it as a re-pick would.
    ServeUntilLogged(c.logged);
    platform::UiSleep(1000);
    StopWorker();
  }

  const std::string wire = peer.Wire();
  if (c.next.empty()) {
    EXPECT_EQ(wire, Handshake);
  } else {
    EXPECT_EQ(wire.substr(0, Handshake.size() + c.next.size()), Handshake + c.next);
  }

  if (c.box) {
    ASSERT_EQ(op.Boxes().size(), 1u);
    EXPECT_EQ(op.Boxes()[0].caption, c.box->caption);
    EXPECT_EQ(op.Boxes()[0].text, c.box->text);
    EXPECT_EQ(op.Boxes()[0].flags, c.box->flags);
  } else {
    EXPECT_TRUE(op.Boxes().empty());
  }
  EXPECT_EQ(op.Unexpected().size(), c.answer ? 0u : op.Boxes().size());
  EXPECT_NE(op.Log().find(c.logged), std::string::npos) << op.Log();

  if (c.ends) {
    EXPECT_NE(op.Log().find(RestartHint), std::string::npos);
    EXPECT_EQ(CalBackupPending, 1);
    EXPECT_EQ(StateBackupPending, 1);
    EXPECT_EQ(LoaderAlreadyActive, 0);
  } else {
    EXPECT_EQ(op.Log().find(RestartHint), std::string::npos);
    EXPECT_EQ(CalBackupPending, 0);
    EXPECT_EQ(StateBackupPending, 0);
    EXPECT_EQ(LoaderAlreadyActive, 1);
    EXPECT_FALSE(std::filesystem::exists(WorkDir() / "tmv-cal.txt"));
    EXPECT_FALSE(std::filesystem::exists(WorkDir() / "tmv-ste.txt"));
  }
}

INSTANTIATE_TEST_SUITE_P(Replies, HandshakeTest, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
