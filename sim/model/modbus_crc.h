#pragma once
// CRC-16 of Modbus RTU frames, as the simulated detector computes it. Written apart
// from the window's own (modbus/rtu_codec.h) on purpose: the tests compare the frames
// the window builds with the detector's, so each CRC checks the other.
//
// The register starts at 0xFFFF; each byte is XORed into its low byte, then shifted out
// bit by bit to the right with the reflected polynomial 0xA001 (0x8005 bit-reversed).
// There is no final XOR. On the wire the CRC goes low byte first, the one place in a
// frame where the low byte leads.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ornat::sim {

using Bytes = std::vector<std::uint8_t>;

// The CRC of `bytes`; 0xFFFF for no bytes.
constexpr std::uint16_t ModbusCrc16(std::span<const std::uint8_t> bytes) noexcept {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                       : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return crc;
}

// Appends the CRC of everything in `frame` to it, low byte first.
inline void AppendCrc(Bytes& frame) {
  const std::uint16_t crc = ModbusCrc16(frame);
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

// True when `frame` is at least 4 bytes long (address, function and CRC) and its last
// two bytes, low byte first, are the CRC of the bytes before them.
constexpr bool HasGoodCrc(std::span<const std::uint8_t> frame) noexcept {
  if (frame.size() < 4) return false;
  const std::size_t n = frame.size() - 2;
  const std::uint16_t stored = static_cast<std::uint16_t>(frame[n] | (frame[n + 1] << 8));
  return ModbusCrc16(frame.first(n)) == stored;
}

}  // namespace ornat::sim
