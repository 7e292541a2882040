#pragma once
// A worker thread with the life the updater's worker needs: it starts when created, reads a stop
// request that any thread may set, can run routines on the UI thread and wait for them, and can
// be marked to free itself when its body returns. Freeing happens on the UI thread, which also
// joins the system thread, so nothing outlives the program's end behind its back.
#include <atomic>
#include <functional>
#include <thread>

#include "platform/clock.h"

class TThread {
 public:
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  virtual ~TThread();

  // Any thread: ask the body to stop; it sees this at its next stop check.
  void Terminate() { terminated_.store(true); }
  bool Terminated() const { return terminated_.load(); }

  // UI thread, after the port has been taken from a stopped worker: its waits end at once and
  // its message boxes and dialogs are answered as if closed unseen, so it reaches its stop
  // check within moments instead of sitting out a minute-long phase.
  void Abandon();
  bool Abandoned() const { return waits_.Cancelled(); }

  // Set by the body: the object is deleted on the UI thread once the body has returned.
  std::atomic<bool> FreeOnTerminate{false};

  // Runs on the UI thread when the body of a free-on-end worker has returned, before the delete.
  std::function<void()> OnTerminate;

 protected:
  explicit TThread(bool CreateSuspended) : suspended_(CreateSuspended) {}
  // Starts the body unless created suspended; the most derived constructor calls it last, so the
  // body never runs on a half-built object.
  void StartUnlessSuspended();
  virtual void Execute() = 0;
  // Run `routine` on the UI thread and wait for it.
  void Synchronize(const std::function<void()>& routine);

 private:
  void Run();

  bool suspended_;
  std::atomic<bool> terminated_{false};
  platform::WaitToken waits_;
  std::thread thread_;
};
