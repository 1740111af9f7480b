#include "text/wide.h"

#include <windows.h>

namespace ornat::win32 {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8(const wchar_t* wide, std::size_t n) {
  if (n == 0) return {};
  const int bytes =
      ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(n), out.data(), bytes, nullptr,
                          nullptr);
  return out;
}

std::string Utf8(const std::wstring& wide) {
  return Utf8(wide.data(), wide.size());
}

}  // namespace ornat::win32
