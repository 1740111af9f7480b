#pragma once
// The serial event thread : while a port is open with a non-empty
// Events set, TComThread waits for the line events the device reports and hands each
// batch to the port, on the thread that the port's SyncMethod chooses:
//   smThreadSync  Dispatcher::Send: DeliverEvents runs on the UI thread, the event
//                 thread waits; an exception is carried back and ends the thread.
//   smWindowSync  Dispatcher::Post, one item per event (the "message" 1025 for the
//                 event): the event thread goes on at once; the item runs
//                 the delivery on the UI thread if the port is still open; an
//                 exception goes to the exception report (the dispatcher's gate).
//   smNone        DeliverEvents on the event thread itself.
// An exception that escapes a delivery run on the thread (or carried back from the
// UI thread) ends the thread silently; ClosePort still works.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/com_events.h"
#include "serial/com_types.h"
#include "serial/platform/comm_device.h"

namespace ornat {

class TCustomComPort;

class TComThread {
 public:
  // Creation by OpenPort, on the opening thread: creates StopSignal, sets the
  // device's event mask to EventsToMask(owner.Events()) (its result is not examined: a
  // failure shows as a failed first wait), then starts the thread (normal priority).
  explicit TComThread(TCustomComPort& owner);
  // Destruction by ClosePort: SignalStop, then waits until the thread has ended.
  // On the UI thread the wait keeps serving the dispatcher's synchronous calls, so
  // a thread that is inside Dispatcher::Send can finish and see the stop. Stopping
  // does not depend on a time limit; as a safety net for a handler that started a
  // read after ClosePort's abort step, the wait repeats the abort (PURGE_RXABORT |
  // PURGE_TXABORT) every 500 ms while the thread has not ended.
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  // Sets StopSignal (thread-safe), then yields the rest of the time slice.
  void SignalStop();
  // The event set of the last completed wait.
  TComEvents Events() const;
  // True once the run loop has returned (stop, failed wait or an exception).
  bool Finished() const;
  // True when the loop ended through an exception of a delivery.
  bool EndedByException() const;
  // The error of the wait that failed and ended the loop (the device gone, a network
  // line's connection dropped); 0 while it runs or when it ended otherwise.
  DevError WaitFailure() const;
  std::thread::id Id() const { return thread_.get_id(); }

 private:
  void Execute();  // the run loop
  void DispatchEvents();
  void SendEventMessages();  // smWindowSync: one message per event
  // Dispatcher::Send, announced so that a UI thread waiting in ~TComThread serves it.
  void SynchronizedDeliver();

  TCustomComPort& owner_;
  std::unique_ptr<CommStopSignal> stop_signal_;
  TComEvents events_;  // written and read on the thread; copied for the deliveries

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool finished_ = false;
  bool ended_by_exception_ = false;
  DevError wait_failure_ = 0;
  int sync_pending_ = 0;  // Send calls announced and not yet returned
  std::thread thread_;    // last: starts after every other member is built
};

}  // namespace ornat
