#include <condition_variable>
#include <mutex>

#include "runtime/loop_waiter.h"

namespace ornat {

namespace {

class ConditionWaiter : public LoopWaiter {
 public:
  void SleepUntil(std::chrono::steady_clock::time_point until) override {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_until(lock, until, [&] { return woken_; });
    woken_ = false;
  }
  void Wake() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      woken_ = true;
    }
    cv_.notify_all();
  }
  const char* Kind() const override { return "condition variable"; }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool woken_ = false;
};

}  // namespace

std::unique_ptr<LoopWaiter> LoopWaiter::Make() {
  return std::make_unique<ConditionWaiter>();
}

}  // namespace ornat
