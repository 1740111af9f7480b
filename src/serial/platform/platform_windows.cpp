#include "serial/platform/platform.h"
#include "serial/platform/win32_comm_device.h"
#include "serial/platform/win32_port_list.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

namespace ornat {

std::unique_ptr<CommDevice> MakePlatformCommDevice() {
  return std::make_unique<Win32CommDevice>(win32::Win32Api::Real());
}

PortListSource& PlatformPortList() {
  static RegistryPortList list(win32::Win32Api::Real());
  return list;
}

std::string SystemErrorText(DevError error) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out;
  if (n > 0 && text != nullptr) {
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(bytes > 0 ? bytes : 0));
    if (bytes > 0)
      ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), bytes, nullptr,
                            nullptr);
  }
  if (text != nullptr) ::LocalFree(text);
  while (!out.empty() &&
         (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
    out.pop_back();
  if (out.empty()) out = "error " + std::to_string(error);
  return out;
}

}  // namespace ornat
