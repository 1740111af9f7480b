#pragma once
// Bytes spelled as the wire log, the simulator's console and the tests' expectations
// spell them ("F7 03 00 00 00 08 50 9A"), and back: written here on their own, not
// taken from the code under test.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ornat::testing {

// Each byte as two upper-case digits, `separator` between two bytes (none after the
// last): {0xF7, 0x03} -> "F7 03".
inline std::string ToHex(const std::vector<std::uint8_t>& bytes, std::string_view separator = " ") {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += separator;
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// The code units of a text (UTF-8 for the window's texts), as ToHex spells them.
inline std::string TextToHex(std::string_view text, std::string_view separator = " ") {
  return ToHex(std::vector<std::uint8_t>(text.begin(), text.end()), separator);
}

// "F7 03 00" -> {0xF7, 0x03, 0x00}: pairs of digits of either case; spaces are skipped.
inline std::vector<std::uint8_t> FromHex(std::string_view text) {
  std::vector<std::uint8_t> out;
  unsigned value = 0;
  int digits = 0;
  for (char c : text) {
    if (c == ' ') continue;
    value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c & ~0x20) - 'A' + 10);
    if (++digits == 2) {
      out.push_back(static_cast<std::uint8_t>(value));
      value = 0;
      digits = 0;
    }
  }
  return out;
}

}  // namespace ornat::testing
