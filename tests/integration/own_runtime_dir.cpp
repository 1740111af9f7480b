// Each process of the suite locks its lines (LineLock) in a runtime folder of its own:
// ctest -j runs tests side by side, and the pty number a killed simulator gives back is
// soon another test's, whose line would meet a lock still held here.

#include <gtest/gtest.h>

#include "support/runtime_dir.h"

namespace {
struct OwnRuntimeDir : ::testing::Environment {
  ornat::testing::PrivateRuntimeDir dir;
};
[[maybe_unused]] auto* const kOwnRuntimeDir =
    ::testing::AddGlobalTestEnvironment(new OwnRuntimeDir);
}  // namespace
