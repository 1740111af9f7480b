#pragma once
// A window's text, as the view compares it with the model's before it sets it.

#include <windows.h>

#include <string>

namespace ornat::win32 {

inline std::wstring WindowText(HWND hwnd) {
  const int n = ::GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  ::GetWindowTextW(hwnd, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

}  // namespace ornat::win32
