#include "modbus/rtu_codec.h"

#include <algorithm>

namespace ornat {

namespace {
// Table of the reflected polynomial 0xA001 (0x8005 bit-reversed), one entry per byte.
constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    std::uint16_t crc = static_cast<std::uint16_t>(b);
    for (int i = 0; i < 8; ++i)
      crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                       : static_cast<std::uint16_t>(crc >> 1);
    table[b] = crc;
  }
  return table;
}
constexpr auto kCrcTable = MakeCrcTable();
}  // namespace

std::uint16_t Crc16(const std::uint8_t* bytes, std::uint16_t n) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint16_t i = 0; i < n; ++i)
    crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFFu]);
  return crc;
}

void BuildRequest(Frame& frame, std::uint8_t address, std::uint8_t function, std::uint16_t reg,
                  std::uint16_t value_or_count) {
  frame[0] = address;
  frame[1] = function;
  // Register and value go high byte first; the CRC low byte first.
  frame[2] = static_cast<std::uint8_t>(reg >> 8);
  frame[3] = static_cast<std::uint8_t>(reg & 0xFF);
  frame[4] = static_cast<std::uint8_t>(value_or_count >> 8);
  frame[5] = static_cast<std::uint8_t>(value_or_count & 0xFF);
  std::uint16_t crc = Crc16(frame.data(), 6);
  frame[6] = static_cast<std::uint8_t>(crc & 0xFF);
  frame[7] = static_cast<std::uint8_t>(crc >> 8);
}

bool ValidateAnswer(Frame& frame, std::uint16_t& received_count) {
  std::uint16_t& rc = received_count;
  if (rc < 5) return false;
  // ReceivedCount never exceeds 255; a larger value could not have come from a read.
  if (rc > frame.size()) rc = static_cast<std::uint16_t>(frame.size());
  int attempts = std::min(rc - 5, 12) + 1;
  for (int a = 0; a < attempts; ++a) {
    std::uint16_t computed = Crc16(frame.data(), static_cast<std::uint16_t>(rc - 2));
    std::uint16_t stored = static_cast<std::uint16_t>(frame[rc - 2] + 256 * frame[rc - 1]);
    if (computed == stored) return true;
    // Drop the first byte.
    std::copy(frame.begin() + 1, frame.begin() + rc, frame.begin());
    --rc;
  }
  return false;
}

}  // namespace ornat
