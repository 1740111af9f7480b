#include "ui/toolkit/dispatcher.h"

namespace ornat {

void QueueDispatcher::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(work));
  }
  cv_.notify_all();
  if (wake_) wake_();
}

void QueueDispatcher::Send(std::function<void()> work) {
  auto call = std::make_shared<SyncCall>();
  call->work = std::move(work);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    sync_.push_back(call);
  }
  cv_.notify_all();
  if (wake_) wake_();
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return call->done; });
  if (call->error) std::rethrow_exception(call->error);
}

void QueueDispatcher::ServeSynchronous() {
  for (;;) {
    std::shared_ptr<SyncCall> call;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (sync_.empty()) return;
      call = sync_.front();
      sync_.pop_front();
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
  return cv_.wait_for(lock, timeout, [&] { return !posted_.empty() || !sync_.empty(); });
}

bool QueueDispatcher::HasWork() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !posted_.empty() || !sync_.empty();
}

}  // namespace ornat
