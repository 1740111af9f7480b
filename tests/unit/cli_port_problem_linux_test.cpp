// ornat-cli's own words for a port that failed on Linux: from errno, what is wrong and
// what to do, never a Windows error code.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/port_failure.h"
#include "serial/comport.h"

namespace ornat::cli {
namespace {

TEST(CliPortProblemLinux, EachErrnoIsToldInTheCommandLinesWords) {
  constexpr const char* kDialout =
      "permission denied: add yourself to the group dialout (sudo usermod -aG dialout $USER, "
      "then log out and in again)";
  constexpr const char* kGone = "the device is gone (an adapter unplugged?)";
  struct Case {
    int code;
    int error;
    const char* text;
    bool hint;
  } cases[] = {
      {CError_SetStateFailed, ENOTTY, "not a serial device", true},
      {CError_OpenFailed, EACCES, kDialout, false},
      {CError_OpenFailed, EPERM, kDialout, false},
      {CError_OpenFailed, ENOENT, "no such device", true},
      {CError_OpenFailed, EBUSY, "busy: another program holds it", false},
      {CError_WriteFailed, EIO, kGone, false},
      {CError_OpenFailed, ENXIO, kGone, false},
      {CError_OpenFailed, ENODEV, kGone, false},
      {CError_OpenFailed, ELOOP, std::strerror(ELOOP), false},
      {CError_OpenFailed, 0, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.error));
    const PortProblem p = DescribePortProblem(c.code, c.error);
    EXPECT_EQ(p.text, c.text);
    EXPECT_EQ(p.list_hint, c.hint);
    EXPECT_EQ(p.text.find("win error"), std::string::npos);
  }
}

}  // namespace
}  // namespace ornat::cli
