#include "runtime/dispatcher.h"

namespace ornat {

void QueueDispatcher::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(work));
  }
  cv_.notify_all();
  if (wake_) wake_();
}

void SyncCallQueue::Call(std::function<void()> work, const std::function<void()>& wake) {
  auto call = std::make_shared<SyncCall>();
  call->work = std::move(work);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
  }
  wake();
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return call->done; });
  if (call->error) std::rethrow_exception(call->error);
}

void SyncCallQueue::ServeAll() {
  for (;;) {
    std::shared_ptr<SyncCall> call;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (calls_.empty()) return;
      call = calls_.front();
      calls_.pop_front();
    }
    try {
      call->work();
    } catch (...) {
      call->error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      call->done = true;
    }
    cv_.notify_all();
  }
}

bool SyncCallQueue::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_.empty();
}

void QueueDispatcher::Notify() {
  // Taking the lock orders this wake-up after a WaitForWork that is checking its
  // condition, so the wake-up cannot fall between its check and its wait.
  { std::lock_guard<std::mutex> lock(mutex_); }
  cv_.notify_all();
  if (wake_) wake_();
}

void QueueDispatcher::Send(std::function<void()> work) {
  sync_.Call(std::move(work), [this] { Notify(); });
}

void QueueDispatcher::ServeSynchronous() {
  sync_.ServeAll();
}

std::size_t QueueDispatcher::RunPending() {
  ServeSynchronous();
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(posted_);
  }
  for (auto& work : batch) gate_.Enter(std::move(work));
  return batch.size();
}

bool QueueDispatcher::WaitForWork(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] { return !posted_.empty() || !sync_.Empty(); });
}

bool QueueDispatcher::HasWork() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !posted_.empty() || !sync_.Empty();
}

}  // namespace ornat
