#pragma once
// The PC's serial ports as Windows keeps them: the values of
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, one port per value, its string
// data the port name ("COM3"), in the registry's enumeration order. The key is
// opened for reading only (KEY_READ): every user may read it, while full access is
// refused to all who may not write HKLM\HARDWARE (ordinary users, and administrators
// under UAC), which would leave them with the fallback file for ever.

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/platform/port_list.h"
#include "serial/platform/win32_api.h"

namespace ornat {

// A value of the key whose data is not a string: the list cannot be read.
class ERegistryValue : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The key's path under HKEY_LOCAL_MACHINE.
inline constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

class RegistryPortList : public PortListSource {
 public:
  explicit RegistryPortList(const win32::Win32Api& api) : api_(api) {}
  // nullopt when the key cannot be opened (it is never created); an empty list when
  // it holds no value. Throws ERegistryValue for a value whose data is not a string.
  std::optional<std::vector<std::string>> ListPorts() override;
  // The friendly name of each port's device in the Ports class, as Device Manager shows
  // it ("USB Serial Port (COM5)"): the present device whose name ends in "(port)"; ""
  // when none does or SetupAPI fails. The devices are enumerated once a call.
  std::vector<std::string> DescribePorts(const std::vector<std::string>& ports) override;

 private:
  const win32::Win32Api& api_;
};

}  // namespace ornat
