#pragma once
// A port that failed, in ornat-cli's own words: what is wrong with it (the programs
// found holding it, or the kind of the platform's error number, serial/port_error_kind.h),
// and the failed send told without the serial component's Windows-style code.

#include <string>

#include "modbus/exchange_observer.h"

namespace ornat::cli {

struct PortProblem {
  // Empty when the number is 0: the component's own text is all there is.
  std::string text;
  // The name may be wrong (no such port, or not a serial port): the message points at
  // "ornat-cli ports".
  bool list_hint = false;
};

// From the serial component's error code (1 open, 2 write, 7 line settings, ...) and
// the platform's error number that came with it (errno on Linux, GetLastError() on
// Windows, as DevError holds them).
PortProblem DescribePortProblem(int error_code, int system_error);

// Whether the "failure" of a JSON document tells a port's failure in ornat-cli's own
// words, as its text output does. On Linux the serial component's text carries a
// Windows-style "win error code" that is in truth errno: the command line's words say
// what it means. On Windows the component's text and its code are the system's own.
extern const bool kJsonFailureInOwnWords;

// "the port "ttyUSB0" cannot be opened: held by ..." or "the request could not be
// written to the port "ttyUSB0": ...", for an exchange whose send failed.
std::string PortFailureText(const ExchangeRecord& record);

}  // namespace ornat::cli
