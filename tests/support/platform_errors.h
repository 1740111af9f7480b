#pragma once
// The platform's error numbers for the cases the exchange engine tells apart, for the
// tests that make the device fail with them on demand: errno values on Linux
// (platform_errors_linux.cpp), GetLastError() codes on Windows
// (platform_errors_windows.cpp).

#include <string>

namespace ornat::testing {

struct PlatformErrors {
  int no_device;               // a port name without a device
  int held;                    // another program has the port
  int invalid;                 // a setting or a transfer refused
  int gone;                    // a transfer on a device that is gone
  int unplugged;               // a transfer after the adapter was unplugged
  std::string no_device_text;  // the system's text for no_device
  std::string no_folder_text;  // the system's text for a file in a folder that is not there
};

const PlatformErrors& Errors();

}  // namespace ornat::testing
