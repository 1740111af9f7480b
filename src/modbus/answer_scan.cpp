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

namespace {

// Where a garbled read answer from `address` of `length` bytes (any, for 0) stands.
bool GarbledAnswer(const std::vector<std::uint8_t>& bytes, const std::vector<FoundAnswer>& found,
                   std::uint8_t address, std::size_t length) {
  std::size_t next = 0;  // the first found answer not yet passed
  for (std::size_t i = 0; i + kExceptionLength <= bytes.size(); ++i) {
    while (next < found.size() && found[next].at + found[next].length <= i) ++next;
    if (next < found.size() && found[next].at <= i) continue;  // inside a whole answer
    if (bytes[i] != address || !ReadAnswerAt(bytes, i)) continue;
    const std::size_t n = CandidateLength(bytes, i);
    if (n != 0 && i + n <= bytes.size() && (length == 0 || n == length)) return true;
  }
  return false;
}

}  // namespace

bool GarbledAnswerFrom(const std::vector<std::uint8_t>& bytes,
                       const std::vector<FoundAnswer>& found, std::uint8_t address) {
  return GarbledAnswer(bytes, found, address, 0);
}

std::optional<std::uint8_t> SeveralAnswerers(const std::vector<std::uint8_t>& bytes) {
  const std::vector<FoundAnswer> found = FindAnswers(bytes);
  // Answers of one request are alike in function and length: a probe's answer and a
  // query's from one address answer two requests.
  std::vector<std::pair<std::uint8_t, std::size_t>> answered;  // address, length
  for (const FoundAnswer& f : found) {
    if (!ReadAnswerAt(bytes, f.at)) continue;
    const std::pair<std::uint8_t, std::size_t> kind{bytes[f.at], f.length};
    if (std::find(answered.begin(), answered.end(), kind) != answered.end()) return kind.first;
    answered.push_back(kind);
  }
  for (const auto& [address, length] : answered)
    if (GarbledAnswer(bytes, found, address, length)) return address;
  return std::nullopt;
}

}  // namespace ornat
