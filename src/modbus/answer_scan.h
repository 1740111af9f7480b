#pragma once
// What the bytes of one exchange hold, wherever it stands in them: every whole
// Modbus-RTU answer, and the sign of two devices answering at one address. The survey
// and the journal read an exchange's bytes with it; the window's own validator
// (rtu_codec.h) is not changed by it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ornat {

// A whole answer found in the bytes of an exchange.
struct FoundAnswer {
  std::size_t at = 0;      // its first byte
  std::size_t length = 0;  // 5 + byte count (function 3), 8 (functions 6, 16), 5 (exception)
};

// Every whole Modbus-RTU answer in bytes, left to right, none overlapping another: an
// address 1..247, function 3 with an even byte count of at least 2, function 6 or 16,
// or an exception (function code with bit 7 set), and a CRC that fits. Where none
// stands at an offset, the search goes on at the next byte, so an answer is found
// behind noise and before it alike.
std::vector<FoundAnswer> FindAnswers(const std::vector<std::uint8_t>& bytes);

// True when, outside the whole answers found, bytes hold what begins as a read's answer
// (function 3 with an even byte count, or 0x83) from `address` and is whole in length
// but fails its CRC: what two devices at one address give as their answers meet on the
// wire and their bytes are ANDed.
bool GarbledAnswerFrom(const std::vector<std::uint8_t>& bytes,
                       const std::vector<FoundAnswer>& found, std::uint8_t address);

// The address at which two or more devices answered in these bytes: two whole answers
// of a read (function 3, or its exception) from one address, alike in length, or one
// and a garbled one of its length from the same address. One device answers a request
// once; answers of another length answer another request, and a write's echo is left
// out, as an echoing adapter gives the request back in the same bytes.
std::optional<std::uint8_t> SeveralAnswerers(const std::vector<std::uint8_t>& bytes);

}  // namespace ornat
