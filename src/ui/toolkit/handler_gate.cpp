#include "ui/toolkit/handler_gate.h"

#include <exception>
#include <string>

namespace ornat {

void HandlerGate::RunReporting(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    dialogs_.ShowException(e.what());
  } catch (...) {
    dialogs_.ShowException("Unknown exception");
  }
}

void HandlerGate::Enter(std::function<void()> fn) {
  if (busy_) {
    held_.push_back(std::move(fn));
    return;
  }
  busy_ = true;
  RunReporting(fn);
  while (!held_.empty()) {
    auto next = std::move(held_.front());
    held_.pop_front();
    RunReporting(next);
  }
  busy_ = false;
}

}  // namespace ornat
