#pragma once
// What a platform's error number (a DevError: errno on Linux, GetLastError() on
// Windows) means for a port, as one portable kind that the engine, the command line's
// words and the window read instead of the numbers. Each platform decides it in one
// table (platform/port_error_kind_linux.cpp, platform/port_error_kind_windows.cpp).

namespace ornat {

enum class PortErrorKind {
  kNone,       // no error (0)
  kGone,       // the device went: an adapter unplugged, the other side of a pty closed
  kBusy,       // another program holds the port
  kDenied,     // this user may not open the device
  kNotSerial,  // the name leads to something that takes no line settings
  kMissing,    // no device of that name
  kBadName,    // the name is no port name the system takes
  kOther,      // anything else: the platform's own text says what
};

// The step at which the number came: the same number can mean two things (Windows
// answers "access denied" for a port another program holds, and the USB-serial
// drivers give it for every transfer once the adapter went).
enum class PortStep {
  kOpen,   // opening the device and taking it for this program
  kSetUp,  // queue sizes, line settings, timeouts right after the open
  kUse,    // transfers, event waits, queries, purge and close
};

PortErrorKind ClassifyPortError(int system_error, PortStep step);

// True where the system can say which programs hold a port (Linux, through /proc).
extern const bool kPlatformNamesHolders;
// "Windows error" where the error number is the system's own, which users look up by
// number; empty where it is errno, whose text says all there is.
extern const char* const kPlatformErrorLabel;

}  // namespace ornat
