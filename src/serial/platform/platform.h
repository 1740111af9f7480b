#pragma once
// What the build chooses per platform for the serial layer: the device, the PC's list
// of serial ports, and the system's text for a platform error number (a DevError: errno
// on Linux, GetLastError() on Windows; what it means is port_error_kind.h).
// platform_linux.cpp and platform_windows.cpp implement it; the build takes one of them.

#include <memory>
#include <string>

#include "serial/platform/comm_device.h"
#include "serial/platform/port_list.h"

namespace ornat {

// The serial device of this platform (PosixCommDevice, Win32CommDevice).
std::unique_ptr<CommDevice> MakePlatformCommDevice();

// The platform's list of serial ports (sysfs and the registered virtual ports; the
// registry's SERIALCOMM key). Lives for the whole run.
PortListSource& PlatformPortList();

// The system's text for an error number, in one line without a final full stop
// ("No such file or directory", "Access is denied").
std::string SystemErrorText(DevError error);

}  // namespace ornat
