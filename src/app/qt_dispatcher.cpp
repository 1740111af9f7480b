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
  sync_.Call(std::move(work), [this] {
    QMetaObject::invokeMethod(
        this, [this] { ServeSynchronous(); }, Qt::QueuedConnection);
  });
}

void QtDispatcher::ServeSynchronous() {
  sync_.ServeAll();
}

}  // namespace ornat
