#include "app/qt_dispatcher.h"

#include <QMetaObject>

namespace ornat {

QtDispatcher::QtDispatcher(HandlerGate& gate, QObject* parent)
    : QObject(parent), gate_(gate), ui_thread_(std::this_thread::get_id()) {}

void QtDispatcher::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(
      this, [this, w = std::move(work)]() mutable { gate_.Enter(std::move(w)); },
      Qt::QueuedConnection);
}

void QtDispatcher::Send(std::function<void()> work) {
  if (OnUiThread()) {
    work();
    return;
  }
  auto call = std::make_shared<SyncCall>();
  call->work = std::move(work);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sync_.push_back(call);
  }
  QMetaObject::invokeMethod(
      this, [this] { ServeSynchronous(); }, Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return call->done; });
  if (call->error) std::rethrow_exception(call->error);
}

void QtDispatcher::ServeSynchronous() {
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

}  // namespace ornat
