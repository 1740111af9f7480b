#pragma once
// What the bytes of one exchange hold beyond its whole answers (FindAnswers,
// protocol.h): a garbled answer, and the sign of two devices answering at one address.
// The survey and the engine read an exchange's bytes with it; the window's own
// validator (rtu_codec.h) is not changed by it.

#include <cstdint>
#include <optional>
#include <vector>

#include "modbus/protocol.h"

namespace ornat {

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
