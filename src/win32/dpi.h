#pragma once
// The window is defined in pixels at 96 dots per inch; on a screen of another scale
// every length is scaled by dpi / 96 (ui/toolkit/dpi_scale.h, rounded as MulDiv
// rounds). A rectangle is scaled by its edges, so that controls that touch at 96 dpi
// still touch.

#include <windows.h>

#include "ui/toolkit/dpi_scale.h"

namespace ornat::win32 {

constexpr int kBaseDpi = kDefinitionDpi;

inline int Scale(int v, int dpi) {
  return ScaleToDpi(v, dpi);
}
// From the screen's pixels back to the definition's.
inline int Unscale(int v, int dpi) {
  return ScaleFromDpi(v, dpi);
}
// Left, top, width and height at 96 dpi to a rectangle at dpi.
RECT ScaleRect(int left, int top, int width, int height, int dpi);

// The scale of the window's monitor (per-monitor awareness), else the system's.
int DpiOfWindow(HWND hwnd);
int SystemDpi();
// GetSystemMetricsForDpi where the system has it.
int MetricForDpi(int index, int dpi);
// The outer rectangle of a window whose client area is client (AdjustWindowRectExForDpi
// where the system has it).
RECT OuterRect(RECT client, DWORD style, DWORD ex_style, int dpi);
// Per-monitor awareness for a process that the manifest did not make aware (the
// manifest normally has); returns whether the process is DPI-aware now.
bool BecomeDpiAware();

}  // namespace ornat::win32
