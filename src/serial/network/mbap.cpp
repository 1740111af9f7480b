#include "serial/network/mbap.h"

#include <algorithm>

#include "modbus/protocol.h"
#include "modbus/rtu_codec.h"

namespace ornat {

namespace {

std::uint16_t BigEndian(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

}  // namespace

MbapRequest EncodeMbapRequest(const std::uint8_t* rtu, std::size_t n, std::uint16_t transaction) {
  if (n < 4 || n > kMbapLongestLength + 2)
    return {{}, "a request of " + std::to_string(n) + " bytes is not a Modbus-RTU frame"};
  const std::uint16_t body = static_cast<std::uint16_t>(n - 2);
  const std::uint16_t crc = static_cast<std::uint16_t>(rtu[n - 2] | (rtu[n - 1] << 8));
  if (Crc16(rtu, body) != crc) return {{}, "the request's CRC does not fit: not sent"};
  MbapRequest request;
  PutBigEndian(request.bytes, transaction);
  PutBigEndian(request.bytes, 0);     // protocol: Modbus
  PutBigEndian(request.bytes, body);  // unit id + PDU
  request.bytes.insert(request.bytes.end(), rtu, rtu + body);
  return request;
}

bool MbapReader::Feed(const std::uint8_t* bytes, std::size_t n, std::vector<MbapFrame>& frames) {
  if (!error_.empty()) return false;
  buffer_.insert(buffer_.end(), bytes, bytes + n);
  std::size_t at = 0;
  while (buffer_.size() - at >= kMbapHeaderLength) {
    const std::uint8_t* header = buffer_.data() + at;
    const std::uint16_t protocol = BigEndian(header + 2);
    const std::uint16_t length = BigEndian(header + 4);
    if (protocol != 0) {
      error_ = "the gateway's frame has protocol id " + std::to_string(protocol) + ", not 0";
    } else if (length < kMbapShortestLength || length > kMbapLongestLength) {
      error_ = "the gateway's frame has length " + std::to_string(length) + ", not 2 to 254";
    }
    if (!error_.empty()) {
      buffer_.clear();
      return false;
    }
    // The length counts the unit id, which is the header's last byte.
    const std::size_t whole = kMbapHeaderLength - 1 + length;
    if (buffer_.size() - at < whole) break;
    MbapFrame frame;
    frame.transaction = BigEndian(header);
    frame.unit = header[6];
    frame.pdu.assign(header + kMbapHeaderLength, header + whole);
    frames.push_back(std::move(frame));
    at += whole;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

void MbapReader::Reset() {
  buffer_.clear();
  error_.clear();
}

GatewayAnswer DecodeMbapAnswer(const MbapFrame& frame, std::uint16_t transaction,
                               std::uint8_t unit) {
  GatewayAnswer answer;
  if (frame.transaction != transaction) {
    answer.kind = GatewayAnswer::Kind::kWrongTransaction;
    answer.error = "the gateway answered transaction " + std::to_string(frame.transaction) +
                   ", not " + std::to_string(transaction);
    return answer;
  }
  if (frame.unit != unit) {
    answer.kind = GatewayAnswer::Kind::kWrongUnit;
    answer.error = "the gateway answered for unit " + std::to_string(frame.unit) + ", not " +
                   std::to_string(unit);
    return answer;
  }
  if (frame.pdu.size() == 2 && (frame.pdu[0] & kExceptionFlag) != 0 &&
      (frame.pdu[1] == kGatewayPathUnavailable || frame.pdu[1] == kGatewayTargetFailedToRespond)) {
    answer.kind = GatewayAnswer::Kind::kNoAnswer;
    answer.gateway_code = frame.pdu[1];
    return answer;
  }
  answer.rtu.resize(1 + frame.pdu.size());
  answer.rtu[0] = frame.unit;
  std::copy(frame.pdu.begin(), frame.pdu.end(), answer.rtu.begin() + 1);
  const std::uint16_t crc = Crc16(answer.rtu.data(), static_cast<std::uint16_t>(answer.rtu.size()));
  answer.rtu.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  answer.rtu.push_back(static_cast<std::uint8_t>(crc >> 8));
  return answer;
}

std::vector<std::uint8_t> MbapBytes(const MbapFrame& frame) {
  const std::size_t length = frame.pdu.size() + 1;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(kMbapHeaderLength + frame.pdu.size());
  for (const unsigned value : {unsigned{frame.transaction} >> 8, frame.transaction & 0xFFu, 0u, 0u,
                               static_cast<unsigned>(length >> 8),
                               static_cast<unsigned>(length & 0xFF), unsigned{frame.unit}})
    bytes.push_back(static_cast<std::uint8_t>(value));
  for (const std::uint8_t b : frame.pdu) bytes.push_back(b);
  return bytes;
}

}  // namespace ornat
