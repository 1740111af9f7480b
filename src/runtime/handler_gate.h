#pragma once
// The single entry of every event handler. It sends an exception that escapes a
// handler to the exception report and lets the program go on, and it never lets a
// handler start while another runs: timer firings and byte hand-overs that come due
// meanwhile (a modal dialog's nested loop keeps delivering them) are held and run
// right after the running handler returns, in the order they came.

#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "runtime/exception_report.h"

namespace ornat {

class HandlerGate {
 public:
  explicit HandlerGate(ExceptionReport& report) : report_(report) {}
  HandlerGate(const HandlerGate&) = delete;
  HandlerGate& operator=(const HandlerGate&) = delete;

  // Runs fn now if no handler runs, else holds it. Must be called on the UI thread.
  void Enter(std::function<void()> fn);
  bool Busy() const { return busy_; }
  std::size_t Held() const { return held_.size(); }

  // `hook` runs after every handler that did not start inside another, once the ones
  // held meanwhile have run too: for what follows the window's state as a whole (the
  // line it holds), whichever handler changed it. One hook per owner; an empty one
  // removes the owner's.
  void SetSettledHook(const void* owner, std::function<void()> hook);

 private:
  void RunReporting(const std::function<void()>& fn);
  void RunHeld();
  ExceptionReport& report_;
  bool busy_ = false;
  std::deque<std::function<void()>> held_;
  std::vector<std::pair<const void*, std::function<void()>>> settled_;
};

}  // namespace ornat
