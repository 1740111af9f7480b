#pragma once
// The window is defined in pixels at 96 dots per inch; on a screen of another scale a
// length becomes length * dpi / 96, rounded to the nearest pixel, halves away from
// zero (as Windows' MulDiv rounds, so the Win32 window and the core agree to the pixel).

#include <cstdint>

namespace ornat {

constexpr int kDefinitionDpi = 96;

// a * b / c rounded to the nearest whole number, halves away from zero; c > 0.
constexpr int MulDivRounded(int a, int b, int c) {
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  const std::int64_t half = c / 2;
  return static_cast<int>((product >= 0 ? product + half : product - half) / c);
}

// A length of the definition in pixels at dpi.
constexpr int ScaleToDpi(int length, int dpi) {
  return MulDivRounded(length, dpi, kDefinitionDpi);
}
// Pixels at dpi back to the definition's.
constexpr int ScaleFromDpi(int pixels, int dpi) {
  return MulDivRounded(pixels, kDefinitionDpi, dpi);
}

}  // namespace ornat
