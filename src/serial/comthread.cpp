#include "serial/comthread.h"

#include <chrono>

#include "serial/comport.h"

namespace ornat {

TComThread::TComThread(TCustomComPort& owner)
    : owner_(owner), stop_signal_(owner.Device().CreateStopSignal()) {
  // The mask's result is not examined: a mask the device refused shows as a failed
  // first wait, which ends the loop.
  owner_.Device().SetEventMask(EventsToMask(owner_.Events()));
  thread_ = std::thread([this] { Execute(); });  // normal priority: the default
}

TComThread::~TComThread() {
  SignalStop();
  Dispatcher& dispatcher = owner_.GetDispatcher();
  const bool on_ui = dispatcher.OnUiThread();
  using Clock = std::chrono::steady_clock;
  auto next_abort = Clock::now() + std::chrono::milliseconds(500);
  std::unique_lock<std::mutex> lock(mutex_);
  while (!finished_) {
    if (on_ui && sync_pending_ > 0) {
      // The thread is in (or about to enter) Dispatcher::Send: run it here, so it
      // can return and see the stop.
      lock.unlock();
      dispatcher.ServeSynchronous();
      lock.lock();
      if (!finished_) cv_.wait_for(lock, std::chrono::milliseconds(1));
      continue;
    }
    bool woke =
        cv_.wait_until(lock, next_abort, [&] { return finished_ || (on_ui && sync_pending_ > 0); });
    if (!woke) {
      // Safety net (see the header): a handler that started a transfer after
      // ClosePort's abort step would wait without end; abort it again.
      lock.unlock();
      owner_.Device().Purge(PURGE_TXABORT | PURGE_RXABORT);
      lock.lock();
      next_abort = Clock::now() + std::chrono::milliseconds(500);
    }
  }
  lock.unlock();
  thread_.join();
}

void TComThread::SignalStop() {
  stop_signal_->Set();
  std::this_thread::yield();  // Sleep(0)
}

TComEvents TComThread::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

bool TComThread::Finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

bool TComThread::EndedByException() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_by_exception_;
}

DevError TComThread::WaitFailure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wait_failure_;
}

void TComThread::Execute() {
  bool by_exception = false;
  CommDevice& device = owner_.Device();
  try {
    for (;;) {
      // The wait, woken by an event, the stop signal or a failure.
      WaitResult r = device.WaitEvent(*stop_signal_);
      if (r.outcome == WaitOutcome::kFailed) {
        std::lock_guard<std::mutex> lock(mutex_);
        wait_failure_ = r.error != 0 ? r.error : -1;
      }
      if (r.outcome != WaitOutcome::kEvents) break;  // the stop, or a failed wait
      {
        std::lock_guard<std::mutex> lock(mutex_);
        events_ = MaskToEvents(r.mask);
      }
      DispatchEvents();
    }
    // The mask is cleared and the queues emptied when the loop ends by the stop or a
    // failed wait; an exception that ends the loop skips this, and the close that
    // follows purges the port anyway.
    device.SetEventMask(0);
    device.Purge(PURGE_TXCLEAR | PURGE_RXCLEAR);
  } catch (...) {
    // An exception escaping a delivery ends the thread; nothing is shown.
    by_exception = true;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    ended_by_exception_ = by_exception;
  }
  cv_.notify_all();
}

void TComThread::DispatchEvents() {
  switch (owner_.SyncMethod()) {
    case TSyncMethod::smThreadSync:
      SynchronizedDeliver();
      break;
    case TSyncMethod::smWindowSync:
      SendEventMessages();
      break;
    case TSyncMethod::smNone:
      owner_.DeliverEvents(Events());
      break;
  }
}

void TComThread::SynchronizedDeliver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++sync_pending_;
  }
  cv_.notify_all();
  struct Done {
    TComThread* self;
    ~Done() {
      std::lock_guard<std::mutex> lock(self->mutex_);
      --self->sync_pending_;
    }
  } done{this};
  TComEvents events = Events();
  TCustomComPort& port = owner_;
  // Runs on the UI thread; an exception is rethrown here and ends the loop.
  owner_.GetDispatcher().Send([&port, events] { port.DeliverEvents(events); });
}

void TComThread::SendEventMessages() {
  // One "message 1025" per event, in delivery order.
  // The sender is released as soon as the UI thread takes it: here, at once (Post).
  // The item holds NotifyWindow weakly: once the port closed (the window destroyed)
  // or was destroyed, it is dropped; else it runs the delivery if the port is still
  // open. Its exception goes to the exception report through the dispatcher's gate.
  std::weak_ptr<TCustomComPort*> window = owner_.notify_window_;
  TComEvents events = Events();
  for (const ComEventBit& e : kComEventOrder) {
    if (!events.Contains(e.event)) continue;
    const TComEvent event = e.event;
    owner_.GetDispatcher().Post([window, event] {
      std::shared_ptr<TCustomComPort*> w = window.lock();
      if (!w) return;
      TCustomComPort* port = *w;
      if (port->Connected()) port->Deliver(event);
    });
  }
}

}  // namespace ornat
