#pragma once
// How the worker reaches the UI thread, and how the UI thread keeps serving it while it waits.
// Every call from the worker waits until the UI thread has done the work; whenever the UI thread
// itself waits (its fixed protocol waits, or for a worker to end) it keeps running those requests,
// so the two threads never wait for each other.
#include <functional>

namespace platform {

// The thread that owns the window: the first one to call this (main(), or a test's body).
void MarkUiThread();
bool OnUiThread();

// Any thread: run `work` on the UI thread and wait until it has returned. An exception that
// `work` throws is thrown again here. On the UI thread itself `work` simply runs.
void RunOnUiThread(const std::function<void()>& work);

// Any thread: queue `work` for the UI thread and return at once.
void PostToUiThread(std::function<void()> work);

// UI thread: run every request queued so far.
void ServeUiRequests();

// UI thread: let `ms` of protocol time pass, serving requests meanwhile. The window takes no
// input during such a wait.
void UiSleep(unsigned ms);

// UI thread: serve requests until `done()` holds. `done` is checked after every request.
void ServeUiRequestsUntil(const std::function<bool()>& done);

// How the UI thread's own event loop learns that a request waits (the Qt window posts an event
// that calls ServeUiRequests()). Without a hook, requests wait for the next serve call.
void SetUiWakeHook(std::function<void()> hook);

}  // namespace platform
