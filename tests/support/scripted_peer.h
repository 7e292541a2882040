#pragma once
// A TMV540 played by a script, on a pseudo-terminal: it answers the text it receives by rules,
// answers each whole firmware file in turn, and records every byte it receives, so a test can
// write exact instrument and loader dialogues and check what went over the wire.
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class ScriptedPeer {
 public:
  ScriptedPeer();
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // The device the engine opens.
  const std::string& DevicePath() const { return devicePath_; }

  // Each time the received text holds `trigger`, `reply` is sent. Text up to the end of a
  // trigger is used up, so one occurrence fires one rule. Firmware files are not text.
  void When(std::string trigger, std::string reply);
  // The k-th occurrence of `trigger` is answered with replies[k]; an empty reply, or an
  // occurrence past the list, stays silent.
  void WhenInTurn(std::string trigger, std::vector<std::string> replies);
  // The k-th whole firmware file received is answered with replies[k] (empty: silence).
  void AfterFiles(std::vector<std::string> replies);

  // Sends at once; from any thread.
  void Send(std::string_view bytes);
  // Stops taking bytes off the line, so that the engine's writes fill the pseudo-terminal and
  // block. Nothing more is received once this returns.
  void HoldReading();
  // Takes bytes off the line again; with `discard`, whatever waits unread is dropped first.
  void ResumeReading(bool discard);
  // Bytes written by the engine that wait unread on the line.
  int Unread() const;
  // Closes the instrument's side for good: the engine's port is gone from then on.
  void Hangup();

  // Everything received so far, each whole firmware file shown as "[file k]" (k 1 to 8, "?" for
  // 65,648 bytes that are none of them) and one cut short as "[part of a file]".
  std::string Wire() const;
  // The numbers of the whole firmware files received, in order (0: none of the eight).
  std::vector<int> Files() const;
  // Blocks until `count` whole firmware files have been received.
  void WaitForFiles(std::size_t count) const;

 private:
  struct Rule {
    std::string trigger;
    std::vector<std::string> replies;
    bool inTurn;
    std::size_t fired = 0;
  };

  void Run();
  // With mutex_ held: recognizes files and applies the rules to what arrived.
  void Process();
  void ApplyRules(std::string_view text);
  void FileDone();
  void Wake();
  void SendLocked(std::string_view bytes);

  std::string devicePath_;
  int master_ = -1;
  // The instrument keeps the line open itself, so the pseudo-terminal stays up between the
  // engine's opens and keeps the raw settings given here.
  int slave_ = -1;
  int wake_ = -1;
  std::thread reader_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stop_ = false;
  bool held_ = false;
  bool hangupAsked_ = false;
  bool hungUp_ = false;

  std::vector<Rule> rules_;
  std::vector<std::string> fileReplies_;

  std::string received_;     // every byte, in order
  std::size_t scanned_ = 0;  // received_ up to here is taken apart into wire_
  bool inFile_ = false;      // received_ from scanned_ on is a firmware file under way
  std::string wire_;         // received_ up to scanned_, files as their tokens
  std::string text_;         // text not yet used up by a rule
  std::vector<int> files_;
};

// UI thread: serves the engine's worker until one of its writes toward `peer`, which holds its
// reading, is under way and stuck (or the worker has ended).
void WaitForWriteUnderWay(const ScriptedPeer& peer);
// UI thread: waits for such a write and fails it as a driver error would; the port stays usable.
void FailWriteInProgress(const ScriptedPeer& peer);
