#include "modbus/protocol.h"

#include "modbus/rtu_codec.h"

namespace ornat {

namespace {

// A whole frame's CRC, taken over the frame with its own CRC, is 0.
bool WholeFrame(const std::uint8_t* frame, std::size_t length) {
  return Crc16(frame, static_cast<std::uint16_t>(length)) == 0;
}

}  // namespace

bool AnswerEndsAt(const std::uint8_t* bytes, int count, int expected) {
  constexpr int kException = static_cast<int>(kExceptionAnswerLength);
  if (expected >= kException && count >= expected &&
      WholeFrame(bytes + count - expected, static_cast<std::size_t>(expected)))
    return true;
  if (count < kException) return false;
  const std::uint8_t* last = bytes + count - kException;
  return AnswerLength(last[1], last[2]) == kExceptionAnswerLength &&
         WholeFrame(last, kExceptionAnswerLength);
}

std::size_t AnswerLengthAt(const std::vector<std::uint8_t>& bytes, std::size_t i) {
  if (!IsSlaveAddress(bytes[i])) return 0;
  return AnswerLength(bytes[i + 1], bytes[i + 2]);
}

std::vector<FoundAnswer> FindAnswers(const std::vector<std::uint8_t>& bytes) {
  std::vector<FoundAnswer> found;
  std::size_t i = 0;
  while (i + kExceptionAnswerLength <= bytes.size()) {
    const std::size_t length = AnswerLengthAt(bytes, i);
    if (length != 0 && i + length <= bytes.size() && WholeFrame(bytes.data() + i, length)) {
      found.push_back({i, length});
      i += length;
    } else {
      ++i;
    }
  }
  return found;
}

}  // namespace ornat
