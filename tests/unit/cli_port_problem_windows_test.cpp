// ornat-cli.exe's own words for a port that failed: from the serial component's error
// code and GetLastError(), what an engineer on a Windows laptop needs to know, with
// the pointer to "ornat-cli ports" where the name may be wrong.

#include <gtest/gtest.h>

#include <string>

#include "cli/port_failure.h"
#include "serial/comport.h"

namespace ornat::cli {
namespace {

TEST(CliPortProblemWindows, EachSystemErrorIsToldInTheCommandLinesWords) {
  constexpr const char* kBusy =
      "busy: another program holds it (on Windows the system does not say which)";
  constexpr const char* kGone = "the device is gone (an adapter unplugged?)";
  struct Case {
    const char* what;
    int code;
    int error;
    const char* text;
    bool hint;
  } cases[] = {
      {"no such port", CError_OpenFailed, 2, "no such device", true},
      {"no such path", CError_OpenFailed, 3, "no such device", true},
      {"a name Windows does not take", CError_OpenFailed, 123,
       "no such device (not a valid port name)", true},
      {"another program holds it", CError_OpenFailed, 5, kBusy, false},
      {"shared by no one", CError_OpenFailed, 32, kBusy, false},
      // After the open the USB-serial drivers answer an unplugged adapter with 5 too.
      {"a write on an adapter that went", CError_WriteFailed, 5, kGone, false},
      {"a read on an adapter that went", CError_ReadFailed, 5, kGone, false},
      {"device not connected", CError_WriteFailed, 1167, kGone, false},
      {"device not connected at the open", CError_OpenFailed, 1167, kGone, false},
      {"general failure", CError_WriteFailed, 31, kGone, false},
      {"bad command", CError_ReadFailed, 22, kGone, false},
      {"device removed", CError_WriteFailed, 1617, kGone, false},
      {"no such device", CError_OpenFailed, 433, kGone, false},
      {"device does not exist", CError_OpenFailed, 55, kGone, false},
      {"NUL takes no queue sizes", CError_SetupComFailed, 1, "not a serial device", true},
      {"a file takes no line settings", CError_SetStateFailed, 87, "not a serial device", true},
      {"a printer port takes no line settings", CError_SetStateFailed, 1, "not a serial device",
       true},
      {"no time-outs", CError_TimeoutsFailed, 50, "not a serial device", true},
      {"NUL or a file under Wine", CError_SetupComFailed, 6, "not a serial device", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PortProblem p = DescribePortProblem(c.code, c.error);
    EXPECT_EQ(p.text, c.text);
    EXPECT_EQ(p.list_hint, c.hint);
  }
}

TEST(CliPortProblemWindows, OtherErrorsKeepTheSystemsTextAndTheirNumber) {
  for (const auto& [code, error] :
       {std::pair{CError_OpenFailed, 87}, std::pair{CError_OpenFailed, 1},
        std::pair{CError_WriteFailed, 112}, std::pair{CError_WriteFailed, 6}}) {
    SCOPED_TRACE(error);
    const PortProblem p = DescribePortProblem(code, error);
    const std::string number = " (Windows error " + std::to_string(error) + ")";
    ASSERT_GT(p.text.size(), number.size());
    EXPECT_EQ(p.text.substr(p.text.size() - number.size()), number);
    EXPECT_EQ(p.text.find("not a serial device"), std::string::npos);
    EXPECT_FALSE(p.list_hint);
  }
  // No number: the component's own text is all there is.
  EXPECT_EQ(DescribePortProblem(CError_OpenFailed, 0).text, "");
}

}  // namespace
}  // namespace ornat::cli
