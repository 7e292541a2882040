#include "platform/ui_thread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"

namespace platform {
namespace {

struct Request {
  std::function<void()> work;
  // Set for a request whose sender waits for it.
  std::shared_ptr<struct Completion> completion;
};

struct Completion {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::exception_ptr error;
};

std::mutex queueMutex;
std::condition_variable queueChanged;
std::deque<Request> queue;
std::function<void()> wakeHook;
std::thread::id uiThread;

void Enqueue(Request request) {
  std::function<void()> hook;
  {
    std::lock_guard lock(queueMutex);
    queue.push_back(std::move(request));
    hook = wakeHook;
  }
  queueChanged.notify_all();
  if (hook) hook();
}

bool TakeOne(Request& out) {
  std::lock_guard lock(queueMutex);
  if (queue.empty()) return false;
  out = std::move(queue.front());
  queue.pop_front();
  return true;
}

void RunRequest(Request& request) {
  std::exception_ptr error;
  try {
    request.work();
  } catch (...) {
    if (!request.completion) throw;
    error = std::current_exception();
  }
  if (auto c = request.completion) {
    {
      std::lock_guard lock(c->m);
      c->done = true;
      c->error = error;
    }
    c->cv.notify_all();
  }
}

}  // namespace

void MarkUiThread() { uiThread = std::this_thread::get_id(); }
bool OnUiThread() { return std::this_thread::get_id() == uiThread; }

void RunOnUiThread(const std::function<void()>& work) {
  if (OnUiThread()) {
    work();
    return;
  }
  auto completion = std::make_shared<Completion>();
  Enqueue({work, completion});
  std::unique_lock lock(completion->m);
  completion->cv.wait(lock, [&] { return completion->done; });
  if (completion->error) std::rethrow_exception(completion->error);
}

void PostToUiThread(std::function<void()> work) { Enqueue({std::move(work), nullptr}); }

void ServeUiRequests() {
  // A request may itself wait (a modal box runs its own event loop and may serve again), so the
  // queue is never locked while a request runs.
  Request request;
  while (TakeOne(request)) RunRequest(request);
}

void UiSleep(unsigned ms) {
  const Deadline deadline{std::chrono::milliseconds(ms)};
  for (;;) {
    ServeUiRequests();
    std::unique_lock lock(queueMutex);
    if (!queueChanged.wait_until(lock, deadline.At(), [] { return !queue.empty(); })) return;
  }
}

void ServeUiRequestsUntil(const std::function<bool()>& done) {
  for (;;) {
    Request request;
    while (TakeOne(request)) {
      RunRequest(request);
      if (done()) return;
    }
    if (done()) return;
    std::unique_lock lock(queueMutex);
    queueChanged.wait(lock, [] { return !queue.empty(); });
  }
}

void SetUiWakeHook(std::function<void()> hook) {
  std::lock_guard lock(queueMutex);
  wakeHook = std::move(hook);
}

}  // namespace platform
