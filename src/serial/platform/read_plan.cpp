#include "serial/platform/read_plan.h"

#include <cstdint>

namespace ornat {

ReadPlan PlanRead(const CommTimeouts& timeouts, int count) {
  const std::uint32_t interval = timeouts.ReadIntervalTimeout;
  const std::uint32_t multiplier = timeouts.ReadTotalTimeoutMultiplier;
  const std::uint32_t constant = timeouts.ReadTotalTimeoutConstant;
  ReadPlan plan;
  if (interval == kMaxDword && multiplier == 0 && constant == 0) {
    plan.return_queued = true;
  } else if (interval == kMaxDword && multiplier == kMaxDword && constant != 0 &&
             constant != kMaxDword) {
    plan.first_bytes = true;
    plan.total = std::chrono::milliseconds(constant);
  } else {
    const std::uint64_t total_ms =
        std::uint64_t{multiplier} * static_cast<std::uint64_t>(count < 0 ? 0 : count) + constant;
    if (multiplier != 0 || constant != 0)
      plan.total = std::chrono::milliseconds(static_cast<std::int64_t>(total_ms));
    if (interval != 0 && interval != kMaxDword) plan.interval = std::chrono::milliseconds(interval);
  }
  return plan;
}

}  // namespace ornat
