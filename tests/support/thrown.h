#pragma once
// The exception an action throws, for a test to look into; a failure when it throws
// none.

#include <gtest/gtest.h>

#include <optional>

namespace ornat::testing {

template <typename E, typename F>
std::optional<E> Thrown(F&& action) {
  try {
    action();
  } catch (const E& e) {
    return e;
  }
  ADD_FAILURE() << "no exception";
  return std::nullopt;
}

}  // namespace ornat::testing
