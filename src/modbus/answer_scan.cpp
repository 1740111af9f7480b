#include "modbus/answer_scan.h"

#include <algorithm>

#include "modbus/rtu_codec.h"

namespace ornat {

namespace {

constexpr std::uint8_t kHighestAddress = 247;
constexpr std::uint8_t kReadHolding = 3;
constexpr std::uint8_t kReadException = 0x83;
constexpr std::uint8_t kWriteSingle = 6;
constexpr std::uint8_t kWriteMultiple = 16;
constexpr std::size_t kExceptionLength = 5;

// The length of the answer that would begin at bytes[i], by its function code; 0
// when no answer can begin there.
std::size_t CandidateLength(const std::vector<std::uint8_t>& bytes, std::size_t i) {
  const std::uint8_t address = bytes[i];
  const std::uint8_t function = bytes[i + 1];
  if (address < 1 || address > kHighestAddress) return 0;
  if (function == kReadHolding) {
    const std::uint8_t count = bytes[i + 2];
    return count >= 2 && count % 2 == 0 ? 5u + count : 0u;
  }
  if (function == kWriteSingle || function == kWriteMultiple) return 8;
  if ((function & 0x80) != 0 && (function & 0x7F) != 0) return kExceptionLength;
  return 0;
}

bool ReadAnswerAt(const std::vector<std::uint8_t>& bytes, std::size_t i) {
  return bytes[i + 1] == kReadHolding || bytes[i + 1] == kReadException;
}

}  // namespace

std::vector<FoundAnswer> FindAnswers(const std::vector<std::uint8_t>& bytes) {
  std::vector<FoundAnswer> found;
  std::size_t i = 0;
  while (i + kExceptionLength <= bytes.size()) {
    const std::size_t length = CandidateLength(bytes, i);
    // A whole frame's CRC, taken over the frame with its own CRC, is 0.
    if (length != 0 && i + length <= bytes.size() &&
        Crc16(bytes.data() + i, static_cast<std::uint16_t>(length)) == 0) {
      found.push_back({i, length});
      i += length;
    } else {
      ++i;
    }
  }
  return found;
}

bool GarbledAnswerFrom(const std::vector<std::uint8_t>& bytes,
                       const std::vector<FoundAnswer>& found, std::uint8_t address) {
  std::size_t next = 0;  // the first found answer not yet passed
  for (std::size_t i = 0; i + kExceptionLength <= bytes.size(); ++i) {
    while (next < found.size() && found[next].at + found[next].length <= i) ++next;
    if (next < found.size() && found[next].at <= i) continue;  // inside a whole answer
    if (bytes[i] != address || !ReadAnswerAt(bytes, i)) continue;
    const std::size_t length = CandidateLength(bytes, i);
    if (length != 0 && i + length <= bytes.size()) return true;
  }
  return false;
}

std::optional<std::uint8_t> SeveralAnswerers(const std::vector<std::uint8_t>& bytes) {
  const std::vector<FoundAnswer> found = FindAnswers(bytes);
  std::vector<std::uint8_t> answered;
  for (const FoundAnswer& f : found) {
    if (!ReadAnswerAt(bytes, f.at)) continue;
    const std::uint8_t address = bytes[f.at];
    if (std::find(answered.begin(), answered.end(), address) != answered.end()) return address;
    answered.push_back(address);
  }
  for (std::uint8_t address : answered)
    if (GarbledAnswerFrom(bytes, found, address)) return address;
  return std::nullopt;
}

}  // namespace ornat
