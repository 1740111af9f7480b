#include "runtime/handler_gate.h"

#include <exception>
#include <string>

namespace ornat {

void HandlerGate::RunReporting(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    report_.ShowException(e.what());
  } catch (...) {
    report_.ShowException("Unknown exception");
  }
}

void HandlerGate::Enter(std::function<void()> fn) {
  if (busy_) {
    held_.push_back(std::move(fn));
    return;
  }
  busy_ = true;
  RunReporting(fn);
  RunHeld();
  for (const auto& [owner, hook] : settled_) RunReporting(hook);
  RunHeld();
  busy_ = false;
}

void HandlerGate::RunHeld() {
  while (!held_.empty()) {
    auto next = std::move(held_.front());
    held_.pop_front();
    RunReporting(next);
  }
}

void HandlerGate::SetSettledHook(const void* owner, std::function<void()> hook) {
  std::erase_if(settled_, [owner](const auto& h) { return h.first == owner; });
  if (hook) settled_.emplace_back(owner, std::move(hook));
}

}  // namespace ornat
