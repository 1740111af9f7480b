#include "text/hex.h"

namespace ornat::text {

std::string ByteToHex(std::uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[value / 16], kDigits[value % 16]};
}

}  // namespace ornat::text
