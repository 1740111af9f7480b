#pragma once
// Hands work from another thread (the serial event thread) to the user-interface
// thread. Posted work enters through the HandlerGate, so it never runs inside a
// running handler.

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/handler_gate.h"

namespace ornat {

class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  // Thread-safe. Queues work to run later on the UI thread, through the gate.
  virtual void Post(std::function<void()> work) = 0;
  // Thread-safe; from a thread other than the UI thread. Runs work on the UI thread
  // and waits until it has run; an exception it throws is rethrown here.
  virtual void Send(std::function<void()> work) = 0;
  // On the UI thread: runs the Send calls that wait right now (a thread being
  // joined from the UI thread may be inside one).
  virtual void ServeSynchronous() = 0;
  virtual bool OnUiThread() const = 0;
};

// Calls from other threads that wait until the UI thread has run them, with their
// exception carried back; both dispatchers keep their Send calls here.
class SyncCallQueue {
 public:
  // From another thread: queues work, calls wake() so the UI thread looks at the
  // queue, waits until the work has run and rethrows what it threw.
  void Call(std::function<void()> work, const std::function<void()>& wake);
  // On the UI thread: runs the calls waiting now.
  void ServeAll();
  bool Empty() const;

 private:
  struct SyncCall {
    std::function<void()> work;
    std::exception_ptr error;
    bool done = false;
  };
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<SyncCall>> calls_;
};

// A dispatcher whose queue the owner drains on the UI thread: tests call RunPending;
// RealtimeLoop drains it from its loop.
class QueueDispatcher : public Dispatcher {
 public:
  explicit QueueDispatcher(HandlerGate& gate)
      : gate_(gate), ui_thread_(std::this_thread::get_id()) {}
  void Post(std::function<void()> work) override;
  void Send(std::function<void()> work) override;
  void ServeSynchronous() override;
  bool OnUiThread() const override { return std::this_thread::get_id() == ui_thread_; }

  // UI thread: runs what was posted and sent so far; returns how many items ran.
  std::size_t RunPending();
  // Any thread: waits until something is queued or the time is up.
  bool WaitForWork(std::chrono::milliseconds timeout);
  bool HasWork() const;
  // Called (without the lock held) whenever work is queued; lets a loop wake up.
  void SetWakeup(std::function<void()> wake) { wake_ = std::move(wake); }

 private:
  void Notify();
  HandlerGate& gate_;
  std::thread::id ui_thread_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> posted_;
  SyncCallQueue sync_;
  std::function<void()> wake_;
};

}  // namespace ornat
