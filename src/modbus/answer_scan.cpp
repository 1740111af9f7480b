#include "modbus/answer_scan.h"

#include <algorithm>

namespace ornat {

namespace {

bool ReadAnswerAt(const std::vector<std::uint8_t>& bytes, std::size_t i) {
  return bytes[i + 1] == kReadHoldingRegisters || bytes[i + 1] == kReadException;
}

// Where a garbled read answer from `address` of `length` bytes (any, for 0) stands.
bool GarbledAnswer(const std::vector<std::uint8_t>& bytes, const std::vector<FoundAnswer>& found,
                   std::uint8_t address, std::size_t length) {
  std::size_t next = 0;  // the first found answer not yet passed
  for (std::size_t i = 0; i + kExceptionAnswerLength <= bytes.size(); ++i) {
    while (next < found.size() && found[next].at + found[next].length <= i) ++next;
    if (next < found.size() && found[next].at <= i) continue;  // inside a whole answer
    if (bytes[i] != address || !ReadAnswerAt(bytes, i)) continue;
    const std::size_t n = AnswerLengthAt(bytes, i);
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
