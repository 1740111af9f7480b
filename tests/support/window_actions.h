#pragma once
// What the engineer does in the window, for a test's form over the virtual clock
// (SimulatedForm) or over a real line (LiveForm): any form with Do(), w() and, for
// Settle, RunUntil().

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace ornat::testing {

// The address editor set to `address` and confirmed with Enter.
template <typename Form>
void TypeAddress(Form& f, int address) {
  f.Do([&] {
    f.w().TeSpinEdit1.SetText(std::to_string(address));
    f.w().TeSpinEdit1.KeyPress('\r');
  });
}

// Runs until the window's operation has ended (15 s at the most: a failure).
template <typename Form>
void Settle(Form& f) {
  ASSERT_TRUE(f.RunUntil([&] { return !f.w().Working(); }, std::chrono::seconds(15)));
}

}  // namespace ornat::testing
