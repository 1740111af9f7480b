#include "win32/dpi.h"

namespace ornat::win32 {

namespace {
template <class F>
F Function(const char* name) {
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  return user32 != nullptr
             ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(user32, name)))
             : nullptr;
}
}  // namespace

RECT ScaleRect(int left, int top, int width, int height, int dpi) {
  return RECT{Scale(left, dpi), Scale(top, dpi), Scale(left + width, dpi),
              Scale(top + height, dpi)};
}

int SystemDpi() {
  using Fn = UINT(WINAPI*)();
  if (auto f = Function<Fn>("GetDpiForSystem")) return static_cast<int>(f());
  HDC dc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : kBaseDpi;
}

int DpiOfWindow(HWND hwnd) {
  using Fn = UINT(WINAPI*)(HWND);
  if (auto f = Function<Fn>("GetDpiForWindow")) {
    const UINT dpi = f(hwnd);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

int MetricForDpi(int index, int dpi) {
  using Fn = int(WINAPI*)(int, UINT);
  if (auto f = Function<Fn>("GetSystemMetricsForDpi")) return f(index, static_cast<UINT>(dpi));
  return ::MulDiv(::GetSystemMetrics(index), dpi, SystemDpi());
}

RECT OuterRect(RECT client, DWORD style, DWORD ex_style, int dpi) {
  using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  if (auto f = Function<Fn>("AdjustWindowRectExForDpi")) {
    if (f(&client, style, FALSE, ex_style, static_cast<UINT>(dpi))) return client;
  }
  ::AdjustWindowRectEx(&client, style, FALSE, ex_style);
  return client;
}

bool BecomeDpiAware() {
  using Ctx = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  if (auto f = Function<Ctx>("SetProcessDpiAwarenessContext")) {
    if (f(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) || f(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE))
      return true;
    // Already set by the manifest: the call fails with access denied.
    return ::GetLastError() == ERROR_ACCESS_DENIED;
  }
  using Aware = BOOL(WINAPI*)();
  if (auto f = Function<Aware>("SetProcessDPIAware")) return f() != FALSE;
  return false;
}

}  // namespace ornat::win32
