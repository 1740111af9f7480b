#pragma once
// Modbus-RTU frames: the CRC-16, the 8-byte requests of functions 3 and 6, and the
// validation of a received answer in place.

#include <array>
#include <cstdint>

namespace ornat {

using Frame = std::array<std::uint8_t, 256>;

// CRC-16/MODBUS of the first n bytes (0xFFFF for n = 0; no final XOR).
std::uint16_t Crc16(const std::uint8_t* bytes, std::uint16_t n);

// Writes bytes 0..7 of frame: address, function, register (high byte first), value or
// count (high byte first), CRC (low byte first). The rest of frame is left alone.
void BuildRequest(Frame& frame, std::uint8_t address, std::uint8_t function, std::uint16_t reg,
                  std::uint16_t value_or_count);

// True when an answer whose CRC fits stands at the start of frame. Tries the bytes as
// received, then with 1, 2, ... up to 12 leading bytes dropped (min(count - 5, 12) + 1
// attempts; fewer than 5 bytes: false, nothing changes). The CRC is always the last
// two bytes received. After every failed attempt, the last one included, the first
// byte is dropped and count lowered by one.
bool ValidateAnswer(Frame& frame, std::uint16_t& received_count);

}  // namespace ornat
