#pragma once
// Protocol time. The updater's waits and read time-outs are part of the instrument's protocol;
// they all go through here so tests can run them on a scaled clock. The program runs at 1:1.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

using Clock = std::chrono::steady_clock;

// Protocol time runs at `factor` times real time: 1 in the program, e.g. 0.05 in tests.
void SetTimeScale(double factor);
double TimeScale();

// Real time that `protocolMs` milliseconds of protocol time take.
Clock::duration Scaled(std::chrono::milliseconds protocolMs);

// A point in real time a given protocol time from now; what a blocking call waits against.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds protocolMs) : at_(Clock::now() + Scaled(protocolMs)) {}
  bool Expired() const { return Clock::now() >= at_; }
  // Milliseconds left, rounded up, for poll(); 0 once expired.
  int RemainingMs() const;
  Clock::time_point At() const { return at_; }

 private:
  Clock::time_point at_;
};

// Lets one thread's waits be ended early: a worker that has been stopped and cut off from its
// port must not sit out its protocol waits while the window waits for it to end.
class WaitToken {
 public:
  void Cancel();
  bool Cancelled() const { return cancelled_.load(); }
  // Waits until the deadline or until Cancel(), whichever is first.
  void WaitUntil(Clock::time_point t);

 private:
  std::atomic<bool> cancelled_{false};
  std::mutex m_;
  std::condition_variable cv_;
};

// The token that Sleep() on the calling thread honours (none: plain waits).
void SetThreadWaitToken(WaitToken* token);
WaitToken* ThreadWaitToken();

}  // namespace platform

// The fixed waits of the protocol, in protocol milliseconds.
void Sleep(unsigned ms);
