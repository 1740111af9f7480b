#pragma once
// The Modbus-RTU rules the whole system goes by, in one place: the function codes it
// sends and routes, the slave address range, the length of an answer by its function
// code, and the frame scanner that finds whole answers wherever they stand in bytes
// read. The CRC and the 8-byte requests are the codec's (rtu_codec.h).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ornat {

// --- function codes ------------------------------------------------------------
inline constexpr std::uint8_t kReadHoldingRegisters = 3;
inline constexpr std::uint8_t kWriteSingleRegister = 6;
// Never sent by the window; its answer is routed all the same.
inline constexpr std::uint8_t kWriteMultipleRegisters = 16;
// An exception answer carries the request's function code with this bit set.
inline constexpr std::uint8_t kExceptionFlag = 0x80;
// The exception answers the dispatcher routes: to functions 3, 6 and 16.
inline constexpr std::uint8_t kReadException = kReadHoldingRegisters | kExceptionFlag;  // 0x83
inline constexpr std::uint8_t kWriteException = kWriteSingleRegister | kExceptionFlag;  // 0x86
inline constexpr std::uint8_t kWriteMultipleException =
    kWriteMultipleRegisters | kExceptionFlag;  // 0x90

// --- slave addresses -----------------------------------------------------------
// 0 is broadcast (never answered), 248..255 are reserved.
inline constexpr std::uint8_t kLowestAddress = 1;
inline constexpr std::uint8_t kHighestAddress = 247;
constexpr bool IsSlaveAddress(unsigned address) {
  return address >= kLowestAddress && address <= kHighestAddress;
}

// --- frame lengths -------------------------------------------------------------
// Every request the system sends: address, function, two 16-bit words, CRC.
inline constexpr std::size_t kRequestLength = 8;
// An exception answer: address, function | 0x80, exception code, CRC.
inline constexpr std::size_t kExceptionAnswerLength = 5;
// The echo that answers a function-6 request, and the answer to function 16.
inline constexpr std::size_t kWriteAnswerLength = 8;

// The length of the answer whose function code is `function`, CRC included: 5 +
// byte_count for function 3 (an even byte count of at least 2, or 0: none can begin
// so), 8 for functions 6 and 16, 5 for an exception (bit 7 set on a function other than
// 0); 0 for any other code. byte_count (the answer's third byte) counts for function 3
// only.
constexpr std::size_t AnswerLength(std::uint8_t function, std::uint8_t byte_count) {
  if (function == kReadHoldingRegisters)
    return byte_count >= 2 && byte_count % 2 == 0 ? 5u + byte_count : 0u;
  if (function == kWriteSingleRegister || function == kWriteMultipleRegisters)
    return kWriteAnswerLength;
  if ((function & kExceptionFlag) != 0 && (function & ~kExceptionFlag & 0xFF) != 0)
    return kExceptionAnswerLength;
  return 0;
}

// True when the last bytes of bytes[0..count) are a whole answer whose CRC fits: either
// `expected` bytes (the answer the request asks for), or an exception answer. A read
// that waits for an answer can end there instead of waiting for the line to fall silent.
bool AnswerEndsAt(const std::uint8_t* bytes, int count, int expected);

// --- the frame scanner ---------------------------------------------------------
// A whole answer found in the bytes of an exchange.
struct FoundAnswer {
  std::size_t at = 0;      // its first byte
  std::size_t length = 0;  // AnswerLength of its function code
};

// The length of the answer that would begin at bytes[i] (an address 1..247 and a
// function code AnswerLength knows), CRC not checked; 0 when none can begin there.
// bytes must hold at least kExceptionAnswerLength bytes from i.
std::size_t AnswerLengthAt(const std::vector<std::uint8_t>& bytes, std::size_t i);

// Every whole Modbus-RTU answer in bytes, left to right, none overlapping another: an
// address 1..247, a function code AnswerLength knows, and a CRC that fits. Where none
// stands at an offset, the search goes on at the next byte, so an answer is found
// behind noise and before it alike.
std::vector<FoundAnswer> FindAnswers(const std::vector<std::uint8_t>& bytes);

}  // namespace ornat
