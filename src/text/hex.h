#pragma once
// Bytes as the log pane, the journal and the messages show them.

#include <cstdint>
#include <string>

namespace ornat::text {

// Two upper-case hexadecimal digits, leading zero kept.
std::string ByteToHex(std::uint8_t value);

}  // namespace ornat::text
