#include "platform/clock.h"

#include <limits>
#include <thread>

namespace platform {
namespace {
std::atomic<double> timeScale{1.0};
thread_local WaitToken* threadToken = nullptr;
}  // namespace

void SetTimeScale(double factor) { timeScale.store(factor); }
double TimeScale() { return timeScale.load(); }

Clock::duration Scaled(std::chrono::milliseconds protocolMs) {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::milli>(protocolMs.count() * timeScale.load()));
}

int Deadline::RemainingMs() const {
  auto left = at_ - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(ms);
}

void WaitToken::Cancel() {
  {
    std::lock_guard lock(m_);
    cancelled_.store(true);
  }
  cv_.notify_all();
}

void WaitToken::WaitUntil(Clock::time_point t) {
  std::unique_lock lock(m_);
  cv_.wait_until(lock, t, [this] { return cancelled_.load(); });
}

void SetThreadWaitToken(WaitToken* token) { threadToken = token; }
WaitToken* ThreadWaitToken() { return threadToken; }

}  // namespace platform

void Sleep(unsigned ms) {
  auto until = platform::Clock::now() + platform::Scaled(std::chrono::milliseconds(ms));
  if (auto* token = platform::ThreadWaitToken())
    token->WaitUntil(until);
  else
    std::this_thread::sleep_until(until);
}
