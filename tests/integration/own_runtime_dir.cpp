// Each process of the suite locks its lines (LineLock) in a runtime folder of its own:
// ctest -j runs tests side by side, and the pty number a killed simulator gives back is
// soon another test's, whose line would meet a lock still held here.

#include <gtest/gtest.h>

#include <memory>

#include "support/line_taker.h"

namespace {

class OwnRuntimeDir : public ::testing::Environment {
  void SetUp() override { dir_ = std::make_unique<ornat::testing::PrivateRuntimeDir>(); }
  void TearDown() override { dir_.reset(); }
  std::unique_ptr<ornat::testing::PrivateRuntimeDir> dir_;
};

[[maybe_unused]] auto* const kOwnRuntimeDir =
    ::testing::AddGlobalTestEnvironment(new OwnRuntimeDir);

}  // namespace
