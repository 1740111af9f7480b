// What a GetLastError() number means for a port on Windows, by the step it came at:
// "access denied" is a port another program holds at the open, an adapter that went
// afterwards; a handle that takes no settings is no serial port.

#include <gtest/gtest.h>

#include "serial/port_error_kind.h"

namespace ornat {
namespace {

TEST(PortErrorKindWindows, EachErrorIsOneKindByTheStepItCameAt) {
  constexpr auto kNone = PortErrorKind::kNone, kMissing = PortErrorKind::kMissing,
                 kBadName = PortErrorKind::kBadName, kBusy = PortErrorKind::kBusy,
                 kGone = PortErrorKind::kGone, kNotSerial = PortErrorKind::kNotSerial,
                 kOther = PortErrorKind::kOther;
  struct Case {
    int error;
    PortErrorKind at_open, at_set_up, in_use;
  } cases[] = {
      {0, kNone, kNone, kNone},
      {2, kMissing, kMissing, kMissing},    // file not found
      {3, kMissing, kMissing, kMissing},    // path not found
      {123, kBadName, kBadName, kBadName},  // invalid name
      {5, kBusy, kGone, kGone},             // access denied
      {32, kBusy, kGone, kGone},            // sharing violation
      {1167, kGone, kGone, kGone},          // device not connected
      {1617, kGone, kGone, kGone},          // device removed
      {31, kGone, kGone, kGone},            // general failure
      {22, kGone, kGone, kGone},            // bad command
      {55, kGone, kGone, kGone},            // device does not exist
      {433, kGone, kGone, kGone},           // no such device
      {1, kOther, kNotSerial, kOther},      // invalid function
      {87, kOther, kNotSerial, kOther},     // invalid parameter
      {50, kOther, kNotSerial, kOther},     // not supported
      {6, kOther, kNotSerial, kOther},      // invalid handle
      {112, kOther, kOther, kOther},        // disk full
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(ClassifyPortError(c.error, PortStep::kOpen), c.at_open);
    EXPECT_EQ(ClassifyPortError(c.error, PortStep::kSetUp), c.at_set_up);
    EXPECT_EQ(ClassifyPortError(c.error, PortStep::kUse), c.in_use);
  }
}

}  // namespace
}  // namespace ornat
