#include "platform/worker_thread.h"

#include "platform/ui_thread.h"

TThread::~TThread() {
  if (thread_.joinable()) thread_.join();
}

void TThread::Abandon() { waits_.Cancel(); }

void TThread::StartUnlessSuspended() {
  if (!suspended_) thread_ = std::thread([this] { Run(); });
}

void TThread::Synchronize(const std::function<void()>& routine) { platform::RunOnUiThread(routine); }

void TThread::Run() {
  platform::SetThreadWaitToken(&waits_);
  Execute();
  // The UI thread joins and frees the worker, so the object is never deleted while this system
  // thread still runs, and the program cannot end with a worker behind its back.
  if (!FreeOnTerminate.load()) return;  // the owner deletes it, and the destructor joins
  platform::PostToUiThread([this] {
    thread_.join();
    if (OnTerminate) OnTerminate();
    delete this;
  });
}
