// The worker's life and its bridge to the UI thread: requests are served whenever the UI thread
// waits, a free-on-end worker is joined and deleted on the UI thread, and abandoning a worker
// ends its protocol waits at once.
#include "platform/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/ui_thread.h"

namespace {

class LambdaWorker final : public TThread {
 public:
  LambdaWorker(std::function<void(LambdaWorker&)> body, std::atomic<bool>& ended)
      : TThread(false), body_(std::move(body)) {
    OnTerminate = [&ended] { ended = true; };
    FreeOnTerminate = true;
    StartUnlessSuspended();
  }
  using TThread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(LambdaWorker&)> body_;
};

class WorkerThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::MarkUiThread();
    platform::SetTimeScale(1.0);
  }
  void WaitForEnd() {
    platform::ServeUiRequestsUntil([this] { return ended.load(); });
  }
  std::atomic<bool> ended{false};
};

TEST_F(WorkerThreadTest, SynchronizedRoutinesRunOnTheUiThreadInOrder) {
  std::vector<int> order;
  new LambdaWorker(
      [&](LambdaWorker& w) {
        for (int i = 0; i < 3; ++i)
          w.Synchronize([&order, i] {
            EXPECT_TRUE(platform::OnUiThread());
            order.push_back(i);
          });
      },
      ended);
  WaitForEnd();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST_F(WorkerThreadTest, AnExceptionOnTheUiThreadReachesTheWorker) {
  std::string caught;
  new LambdaWorker(
      [&](LambdaWorker& w) {
        try {
          w.Synchronize([] { throw std::runtime_error("box failed"); });
        } catch (const std::exception& e) {
          caught = e.what();
        }
      },
      ended);
  WaitForEnd();
  EXPECT_EQ(caught, "box failed");
}

TEST_F(WorkerThreadTest, UiSleepServesTheWorkerWhileItWaits) {
  std::atomic<int> served{0};
  new LambdaWorker([&](LambdaWorker& w) { w.Synchronize([&] { ++served; }); }, ended);
  // Were requests not served during the wait, the worker would still be blocked afterwards.
  platform::UiSleep(300);
  EXPECT_EQ(served.load(), 1);
  WaitForEnd();
}

TEST_F(WorkerThreadTest, StopRequestIsSeenByTheBody) {
  std::atomic<int> passes{0};
  auto* worker = new LambdaWorker(
      [&](LambdaWorker& w) {
        while (!w.Terminated()) {
          ++passes;
          Sleep(5);
        }
      },
      ended);
  platform::UiSleep(50);
  worker->Terminate();
  WaitForEnd();
  EXPECT_GT(passes.load(), 0);
}

TEST_F(WorkerThreadTest, AbandoningEndsTheWorkersWaitsAtOnce) {
  std::atomic<bool> started{false};
  auto* worker = new LambdaWorker(
      [&](LambdaWorker&) {
        started = true;
        Sleep(3'600'000);  // an hour: only abandoning can end it
      },
      ended);
  while (!started) std::this_thread::yield();
  worker->Abandon();
  WaitForEnd();
  EXPECT_TRUE(ended.load());
}

TEST(DeadlineTest, ScaledTimeRunsAtTheSetFraction) {
  platform::SetTimeScale(0.5);
  EXPECT_EQ(platform::Scaled(std::chrono::milliseconds(100)), std::chrono::milliseconds(50));
  platform::SetTimeScale(1.0);
  EXPECT_EQ(platform::Scaled(std::chrono::milliseconds(100)), std::chrono::milliseconds(100));
  const platform::Deadline past{std::chrono::milliseconds(0)};
  EXPECT_TRUE(past.Expired());
  EXPECT_EQ(past.RemainingMs(), 0);
  const platform::Deadline future{std::chrono::milliseconds(10'000)};
  EXPECT_FALSE(future.Expired());
  EXPECT_GT(future.RemainingMs(), 9'000);
  EXPECT_LE(future.RemainingMs(), 10'000);
}

}  // namespace
