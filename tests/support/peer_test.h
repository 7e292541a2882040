#pragma once
// An engine test against a scripted instrument, with the texts that its scripts key on.
#include <functional>
#include <string>

#include "engine_fixture.h"
#include "platform/operator.h"
#include "platform/ui_thread.h"
#include "scripted_peer.h"
#include "ui/port_connection.h"

// What every worker sends first: the wake-up byte, then the identity query.
inline const std::string IdentityQuery = "\nVERB 1\nFREV?\nVRDT?\nFDAT?\nVERB 0\n";
inline const std::string Handshake = "\n" + IdentityQuery;
// Logged when the operator says an earlier upload was broken off: the loader runs from then on.
inline const std::string PowerHint = "\r\nUnplug the TMV540 and reapply power to restart.";
inline const std::string RestartHint = "\r\nIf you need to restart TMV Update, re-select the COM port.";
// The transfer's lines for a file written, or not, and for the loader's abort or silence.
inline std::string Sending(int digit) { return "\r\nSending file: TMV5400" + std::to_string(digit) + "..."; }
inline const std::string Finished = "\r\nFinished with that file; waiting for prompt...";
inline const std::string SendFailed = "\r\nError sending file.";
inline const std::string Aborted = "\r\nReceived abort character...FlashFeed batch stopped.";
inline const std::string NoReply = "\r\nNo reply from TMV540 during upload.  Update Canceled.";

// An identity reply that the handshake takes as proper: 200 bytes, all there for its one read.
inline std::string IdentityReply() {
  std::string reply = "092\r\n11/30/01 16:05 rev B\r\n";
  reply.resize(192, '.');
  return reply + "30Nov01\r";
}

class PeerTest : public EngineTest {
 protected:
  // The instrument waits silently in its loader: the operator answers "Aborted upload?" with
  // Yes, and `then` runs once the log shows the power hint, before the first poll.
  void StartInLoader(std::function<void()> then) {
    op.Answer("Aborted upload?", IDYES);
    op.WhenLogged(PowerHint, std::move(then));
  }

  // Serves the worker until the log holds `text` or the worker has ended.
  void ServeUntilLogged(const std::string& text) {
    platform::ServeUiRequestsUntil([&] { return op.Log().find(text) != std::string::npos || !Worker; });
  }

  // How often the log holds `text`.
  std::size_t LogCount(const std::string& text) const {
    std::size_t count = 0;
    for (std::size_t at = op.Log().find(text); at != std::string::npos; at = op.Log().find(text, at + text.size()))
      ++count;
    return count;
  }

  // Outlives TearDown(), which stops any worker still running.
  ScriptedPeer peer;
};
