#include "model/modbus_tcp_gateway.h"

#include <algorithm>

namespace ornat::sim {

namespace {

constexpr std::size_t kHeader = 7;  // transaction, protocol, length (2 bytes each), unit

std::uint16_t Word(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

// The length of the answer that begins `answer`, from its function code: an exception,
// a read (by its byte count), a write's echo; any other function up to the end.
std::size_t AnswerLength(std::span<const std::uint8_t> answer) {
  const std::uint8_t function = answer[1];
  if (function & 0x80) return 5;
  if (function == 3 || function == 4) return 5u + answer[2];
  if (function == 6) return 8;
  return answer.size();
}

}  // namespace

bool MbapRequestReader::Feed(std::span<const std::uint8_t> bytes,
                             std::vector<GatewayRequest>& out) {
  if (!error_.empty()) return false;
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  std::size_t at = 0;
  while (buffer_.size() - at >= kHeader) {
    const std::uint8_t* h = buffer_.data() + at;
    const std::uint16_t length = Word(h + 4);
    if (Word(h + 2) != 0 || length < 2 || length > 254) {
      error_ = "not an MBAP header: protocol " + std::to_string(Word(h + 2)) + ", length " +
               std::to_string(length);
      buffer_.clear();
      return false;
    }
    const std::size_t whole = kHeader - 1 + length;  // the length counts the unit id
    if (buffer_.size() - at < whole) break;
    GatewayRequest r;
    r.transaction = Word(h);
    r.unit = h[6];
    r.rtu.assign(h + 6, h + whole);
    AppendCrc(r.rtu);
    out.push_back(std::move(r));
    at += whole;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

Bytes MbapFrame(std::uint16_t transaction, std::uint8_t unit, std::span<const std::uint8_t> pdu) {
  const std::size_t length = pdu.size() + 1;
  // Built byte by byte: GCC 12 takes an insert behind an initializer list for an
  // overrun (-Warray-bounds), a false alarm.
  Bytes out;
  out.reserve(kHeader + pdu.size());
  for (const std::size_t word : {std::size_t{transaction}, std::size_t{0}, length}) {
    out.push_back(static_cast<std::uint8_t>(word >> 8));
    out.push_back(static_cast<std::uint8_t>(word & 0xFF));
  }
  out.push_back(unit);
  for (const std::uint8_t b : pdu) out.push_back(b);
  return out;
}

Bytes GatewayAnswer(const GatewayRequest& request, std::span<const std::uint8_t> heard) {
  if (request.unit == 0) return {};
  // The first frame in what was heard, read by its length as a master reads it: an
  // adapter's echo of the request and stray bytes before it are passed over, a byte
  // left behind it is not taken in (a 0x00 behind a frame always closes a good CRC).
  for (std::size_t begin = 0; begin + 5 <= heard.size(); ++begin) {
    const std::span<const std::uint8_t> rest = heard.subspan(begin);
    const std::size_t length = AnswerLength(rest);
    const auto frame = rest.first(std::min(length, rest.size()));
    if (length <= rest.size() && HasGoodCrc(frame))
      return MbapFrame(request.transaction, frame[0], frame.subspan(1, frame.size() - 3));
  }
  const std::uint8_t function = request.rtu.size() > 1 ? request.rtu[1] : 0;
  const std::uint8_t pdu[] = {static_cast<std::uint8_t>(function | 0x80), kGatewayNoAnswer};
  return MbapFrame(request.transaction, request.unit, pdu);
}

}  // namespace ornat::sim
