#pragma once
// The single entry of every event handler. It sends an exception that escapes a
// handler to the exception report and lets the program go on, and it never lets a
// handler start while another runs: timer firings and byte hand-overs that come due
// meanwhile (a modal dialog's nested loop keeps delivering them) are held and run
// right after the running handler returns, in the order they came.

#include <deque>
#include <functional>

#include "ui/toolkit/dialogs.h"

namespace ornat {

class HandlerGate {
 public:
  explicit HandlerGate(Dialogs& dialogs) : dialogs_(dialogs) {}
  HandlerGate(const HandlerGate&) = delete;
  HandlerGate& operator=(const HandlerGate&) = delete;

  // Runs fn now if no handler runs, else holds it. Must be called on the UI thread.
  void Enter(std::function<void()> fn);
  bool Busy() const { return busy_; }
  std::size_t Held() const { return held_.size(); }

 private:
  void RunReporting(const std::function<void()>& fn);
  Dialogs& dialogs_;
  bool busy_ = false;
  std::deque<std::function<void()>> held_;
};

}  // namespace ornat
