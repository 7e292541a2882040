// Stopping a worker from outside, as picking the port again does, whatever the worker is in the
// middle of: it ends, shows the operator nothing more and never touches the port again, and the
// next worker starts with a fresh handshake. Also: the port vanishing under a running worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "engine/Update_unit2.h"
#include "peer_test.h"
#include "platform/operator.h"
#include "platform/ui_thread.h"
#include "ui/port_connection.h"

namespace {

class StopTest : public PeerTest {
 protected:
  // Picks the port again while the worker is busy. The new worker finds the instrument silent
  // and the operator ends it with No. Returns what went over the wire between the two
  // handshakes, which is all the old worker sent.
  std::string PickThePortAgain() {
    const std::size_t boxesBefore = op.Boxes().size();
    op.Answer("Aborted upload?", IDNO);
    RunUpdate(peer.DevicePath());

    EXPECT_EQ(LogCount("\r\nUsing COM1...\r\n"), 2u);
    // The only box after the stop is the new worker's question.
    EXPECT_EQ(op.Boxes().size(), boxesBefore + 1);
    EXPECT_EQ(op.Boxes().back().caption, "Aborted upload?");
    EXPECT_TRUE(op.Unexpected().empty());
    const std::string wire = peer.Wire();
    if (wire.size() < 2 * Handshake.size() || !wire.starts_with(Handshake) || !wire.ends_with(Handshake)) {
      ADD_FAILURE() << "not two handshakes around the old worker's traffic: " << wire;
      return wire;
    }
    return wire.substr(Handshake.size(), wire.size() - 2 * Handshake.size());
  }
};

TEST_F(StopTest, DuringTheLongStateBackup) {
  // The calibration was saved by an earlier worker, so the state backup runs first.
  CalBackupPending = 0;
  peer.WhenInTurn(IdentityQuery, {IdentityReply()});
  peer.When("? ", "1\r\n");
  op.Answer("Erase TMV540 Firmware?", IDOK);

  PickPort(peer.DevicePath());
  // One dot per setting saved.
  platform::ServeUiRequestsUntil([this] { return std::ranges::count(op.Appends(), ".") >= 5 || !Worker; });
  const std::string old = PickThePortAgain();

  // Whole state queries, and not all 226 of them: the backup was cut short and left no file.
  constexpr std::size_t QuerySize = 9;
  EXPECT_EQ(old.size() % QuerySize, 0u) << old;
  EXPECT_GE(old.size() / QuerySize, 5u);
  EXPECT_LT(old.size() / QuerySize, 226u);
  for (std::size_t at = 0; at + QuerySize <= old.size(); at += QuerySize) {
    EXPECT_EQ(old[at + 4], '?') << old.substr(at, QuerySize);
    EXPECT_EQ(old[at + 8], '\n') << old.substr(at, QuerySize);
  }
  EXPECT_FALSE(std::filesystem::exists(WorkDir() / "tmv-ste.txt"));
  EXPECT_EQ(LogCount("TMV540 State stored."), 0u);
}

TEST_F(StopTest, WhileWaitingForTheLoadersAnswer) {
  StartInLoader([this] { peer.Send("01"); });

  PickPort(peer.DevicePath());
  ServeUntilLogged(Finished);
  platform::UiSleep(300);

  EXPECT_EQ(PickThePortAgain(), "[file 1]");
}

TEST_F(StopTest, WhileAFirmwareWriteIsStuck) {
  // The loader takes nothing more off the line, so the write of file 1 cannot finish.
  StartInLoader([this] {
    peer.HoldReading();
    peer.Send("01");
  });

  PickPort(peer.DevicePath());
  WaitForWriteUnderWay(peer);
  // Once the new run logs its port the old worker is gone: the rest of its file, stuck on the
  // line, is dropped and the loader listens again.
  op.WhenLogged("\r\nUsing ", [this] { peer.ResumeReading(true); });

  EXPECT_EQ(PickThePortAgain(), "");
  // Closing the port ended the write.
  EXPECT_EQ(LogCount(SendFailed), 1u);
}

// A port that is gone reads as silence: the loader's answer never comes, and the silence limit
// ends the update as it would for a loader that stopped talking.
TEST_F(StopTest, VanishedPortEndsTheUploadAtTheSilenceLimit) {
  StartInLoader([this] { peer.Send("01"); });
  op.WhenLogged(Finished, [this] {
    peer.WaitForFiles(1);
    peer.Hangup();
  });
  std::uint32_t silentPassesAtCancel = 0;
  op.WhenLogged(NoReply, [&] { silentPassesAtCancel = SilentPollCount; });

  RunUpdate(peer.DevicePath());

  EXPECT_EQ(silentPassesAtCancel, 101u);
  EXPECT_EQ(peer.Wire(), Handshake + "[file 1]");
  EXPECT_EQ(op.Log().substr(op.Log().size() - RestartHint.size()), RestartHint);
  EXPECT_TRUE(op.Unexpected().empty());
}

// With the port gone while a prompted file is in hand, every pass tries the file again and fails.
// Each pass still waits out its read time-out, so the loop never spins: a protocol second holds
// about ten passes.
TEST_F(StopTest, VanishedPortKeepsThePollPace) {
  StartInLoader([this] { peer.Send("01"); });
  // The prompt's echo: the worker has read it and is about to write file 1.
  op.WhenLogged("01", [this] { peer.Hangup(); });

  PickPort(peer.DevicePath());
  ServeUntilLogged(SendFailed);
  const std::size_t failedBefore = LogCount(SendFailed);
  platform::UiSleep(2000);
  const std::size_t failed = LogCount(SendFailed) - failedBefore;
  StopWorker();

  EXPECT_GE(failed, 1u);
  EXPECT_LE(failed, 22u);
  EXPECT_EQ(LogCount(Finished), 0u);
  EXPECT_EQ(peer.Wire(), Handshake);
}

}  // namespace
