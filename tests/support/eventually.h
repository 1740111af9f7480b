#pragma once
// Waiting in real time for what another thread (the serial event thread, a device's
// loop) makes true: polled every millisecond, bounded.

#include <chrono>
#include <thread>

namespace ornat::testing {

// True as soon as pred() holds; false when it still does not after `limit` (a bound
// for a failing wait only: a passing one returns at once).
template <typename F>
bool Eventually(F pred, std::chrono::milliseconds limit = std::chrono::seconds(3)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

}  // namespace ornat::testing
