// The worker's polling loop against a scripted instrument: the echo of what arrives, the pace and
// counting of empty polls, and the progress state that an update leaves behind, whether it ended
// through FinishUpdate or was stopped from outside.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "engine/Update_unit2.h"
#include "peer_test.h"
#include "platform/operator.h"
#include "platform/ui_thread.h"
#include "ui/port_connection.h"

namespace {

// 120 bytes in three pieces of 50, 50 and 20, each beginning with an answer digit, so that
// nothing but the echo reacts to them.
std::vector<std::string> Pieces() {
  std::vector<std::string> pieces(3);
  for (int i = 0; i < 120; ++i) pieces[i / 50] += i % 50 == 0 ? static_cast<char>('2' + i / 50) : 'a' + i % 26;
  return pieces;
}

struct EchoCase {
  const char* name;
  std::string sent;                 // by the instrument, in one go
  std::vector<std::string> echoes;  // the log's appends, one per pass
};

void PrintTo(const EchoCase& c, std::ostream* os) { *os << c.name; }

const EchoCase EchoCases[] = {
    {"HundredAndTwentyBytesInThreePasses", Pieces()[0] + Pieces()[1] + Pieces()[2], Pieces()},
    {"NulEndsTheEcho", std::string("5ab") + '\0' + "cd", {"5ab"}},
};

class EchoTest : public PeerTest, public ::testing::WithParamInterface<EchoCase> {
 protected:
  // The log's appends since the power hint.
  std::vector<std::string> AppendsAfterHint() const {
    const auto& appends = op.Appends();
    auto hint = std::find(appends.begin(), appends.end(), PowerHint);
    return hint == appends.end() ? std::vector<std::string>{} : std::vector<std::string>(hint + 1, appends.end());
  }
};

TEST_P(EchoTest, EachPollEchoesWhatItRead) {
  const EchoCase& c = GetParam();
  StartInLoader([&] { peer.Send(c.sent); });

  PickPort(peer.DevicePath());
  platform::ServeUiRequestsUntil([&] { return AppendsAfterHint().size() >= c.echoes.size() || !Worker; });
  // Some more passes, which have nothing left to echo.
  platform::UiSleep(500);
  StopWorker();

  EXPECT_EQ(AppendsAfterHint(), c.echoes);
  EXPECT_EQ(peer.Wire(), Handshake);
}

INSTANTIATE_TEST_SUITE_P(Replies, EchoTest, ::testing::ValuesIn(EchoCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct SilenceCase {
  const char* name;
  std::string prompt;  // what the loader sends before it falls silent
  std::string from;    // the log line from which the silence is watched
  std::uint32_t fewest;
  std::uint32_t most;
};

void PrintTo(const SilenceCase& c, std::ostream* os) { *os << c.name; }

// A protocol second of silence, and the stop's grace: about a dozen polls, each waiting out the
// read time-out. Only polls while a file is outstanding are counted.
const SilenceCase SilenceCases[] = {
    {"NoFileOutstandingCountsNothing", "", PowerHint, 0, 0},
    {"FileOutstandingCountsEachPoll", "01", Finished, 1, 15},
};

class SilenceTest : public PeerTest, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(SilenceTest, SilentPollsAreCountedOnlyWhileAFileIsOutstanding) {
  const SilenceCase& c = GetParam();
  StartInLoader([&] { peer.Send(c.prompt); });

  PickPort(peer.DevicePath());
  ServeUntilLogged(c.from);
  const std::size_t appendsBefore = op.Appends().size();
  platform::UiSleep(1000);
  StopWorker();

  EXPECT_GE(SilentPollCount, c.fewest);
  EXPECT_LE(SilentPollCount, c.most);
  EXPECT_EQ(op.Appends().size(), appendsBefore) << op.Log();
  EXPECT_EQ(peer.Wire(), Handshake + (c.prompt.empty() ? "" : "[file 1]"));
}

INSTANTIATE_TEST_SUITE_P(Loader, SilenceTest, ::testing::ValuesIn(SilenceCases),
                         [](const auto& info) { return std::string(info.param.name); });

using ProgressStateTest = PeerTest;

// Everything that FinishUpdate returns to its start value, checked after an update that ended
// with each of them changed, and with a file in hand (PromptSeen set) that FinishUpdate leaves.
TEST_F(ProgressStateTest, FinishUpdateResetsAllButPromptSeen) {
  const std::string TryAgain = "\r\nTry repeating steps 1 and 2.\r\n";
  // A file error, then an unexpected reply, then a prompt whose file fails to go out; the abort
  // comes while that file is still in hand.
  StartInLoader([this] { peer.Send("01"); });
  peer.AfterFiles({"03", "?"});
  op.WhenLogged(TryAgain, [this] {
    peer.HoldReading();
    peer.Send("01");
  });
  op.WhenLogged(SendFailed, [this] { peer.Send("x"); });

  PickPort(peer.DevicePath());
  ServeUntilLogged(TryAgain);
  FailWriteInProgress(peer);
  WaitForWorker();
  peer.ResumeReading(true);

  EXPECT_EQ(peer.Wire(), Handshake + "[file 1][file 1]");
  EXPECT_NE(op.Log().find(Sending(3)), std::string::npos);
  EXPECT_NE(op.Log().find(SendFailed + "x" + "x" + Aborted), std::string::npos) << op.Log();
  EXPECT_EQ(CalBackupPending, 1);
  EXPECT_EQ(StateBackupPending, 1);
  EXPECT_EQ(CalRestorePending, 0);
  EXPECT_EQ(StateRestorePending, 0);
  EXPECT_EQ(UploadActive, 0);
  EXPECT_EQ(LoaderAlreadyActive, 0);
  EXPECT_EQ(ExpectedFileDigit, '1');
  EXPECT_EQ(FileIndex, 1);
  EXPECT_EQ(FileErrorCount, 0u);
  EXPECT_EQ(SilentPollCount, 0u);
  EXPECT_EQ(PromptSeen, 1);
}

// Stopped while it waits for the loader's answer to file 2: the flags stay as the worker left
// them. The next worker starts over at FileIndex 1 but keeps the rest: it repeats no backup, and
// the loader's "03" is taken as the answer to file 2, so the file sent is named 3 but is file 2.
TEST_F(ProgressStateTest, WorkerStoppedWhileWaitingLeavesItsFlags) {
  peer.WhenInTurn(IdentityQuery, {"", IdentityReply() + "03"});
  StartInLoader([this] { peer.Send("01"); });
  peer.AfterFiles({"02", "", "x"});
  op.Answer("Erase TMV540 Firmware?", IDOK);

  PickPort(peer.DevicePath());
  platform::ServeUiRequestsUntil([this] { return LogCount(Finished) == 2 || !Worker; });
  StopWorker();

  EXPECT_EQ(op.Log().find(RestartHint), std::string::npos);
  EXPECT_EQ(CalBackupPending, 0);
  EXPECT_EQ(StateBackupPending, 0);
  EXPECT_EQ(LoaderAlreadyActive, 0);
  EXPECT_EQ(UploadActive, 1);
  EXPECT_EQ(PromptSeen, 0);
  EXPECT_EQ(ExpectedFileDigit, '2');
  EXPECT_EQ(FileIndex, 2);

  RunUpdate(peer.DevicePath());

  EXPECT_EQ(peer.Wire(), Handshake + "[file 1][file 2]" + Handshake + "[file 2]");
  EXPECT_EQ(LogCount(Sending(3)), 1u);
  EXPECT_EQ(LogCount(Aborted), 1u);
}

// Stopped while the file it was prompted for fails to go out: PromptSeen stays set, and the next
// worker clears it, so it sends nothing until the loader prompts again.
TEST_F(ProgressStateTest, WorkerStoppedWithAFileInHandLeavesItToTheNextOnlyByPrompt) {
  peer.WhenInTurn(IdentityQuery, {"", IdentityReply() + "05"});
  StartInLoader([this] {
    peer.HoldReading();
    peer.Send("01");
  });
  op.Answer("Erase TMV540 Firmware?", IDOK);

  PickPort(peer.DevicePath());
  WaitForWriteUnderWay(peer);
  StopWorker();
  peer.ResumeReading(true);

  EXPECT_EQ(op.Log().find(RestartHint), std::string::npos);
  EXPECT_EQ(LogCount(SendFailed), 1u);
  EXPECT_EQ(PromptSeen, 1);
  EXPECT_EQ(UploadActive, 0);
  EXPECT_EQ(CalBackupPending, 0);
  EXPECT_EQ(StateBackupPending, 0);

  // The "05" shows the next worker polling; the abort then ends it.
  op.WhenLogged("05", [this] { peer.Send("x"); });
  RunUpdate(peer.DevicePath());

  EXPECT_EQ(peer.Wire(), Handshake + Handshake);
  EXPECT_EQ(LogCount(Sending(1)), 1u);
  EXPECT_EQ(LogCount(Aborted), 1u);
}

}  // namespace
