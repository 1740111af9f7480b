#pragma once
// QtDispatcher: hands work from the serial event thread to the GUI thread through
// Qt's queued invocation. Posted work enters through the HandlerGate (so a hand-over
// that arrives inside a modal dialog's nested loop waits for the running handler);
// a Send blocks its caller until the GUI thread ran the work, and carries an
// exception back. Send calls are kept in a queue of their own that ServeSynchronous
// drains, so the GUI thread can serve them while it joins the event thread.

#include <QObject>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/dispatcher.h"

namespace ornat {

class QtDispatcher : public QObject, public Dispatcher {
  Q_OBJECT

 public:
  // Call on the GUI thread: that thread becomes the UI thread.
  explicit QtDispatcher(HandlerGate& gate, QObject* parent = nullptr);
  void Post(std::function<void()> work) override;
  // From the UI thread itself the work runs at once (waiting would never end).
  void Send(std::function<void()> work) override;
  void ServeSynchronous() override;
  bool OnUiThread() const override { return std::this_thread::get_id() == ui_thread_; }

 private:
  HandlerGate& gate_;
  std::thread::id ui_thread_;
  SyncCallQueue sync_;
};

}  // namespace ornat
