#pragma once
// The simulator's Modbus TCP/RTU gateway, with no I/O: MBAP requests (transaction id,
// protocol 0, length, unit id, PDU) cut from a TCP byte stream and turned into the RTU
// frames the gateway puts on its serial side, and the frame it heard there turned back
// into an MBAP answer with the request's transaction id. Written apart from the
// window's own framing (serial/network/mbap.h) on purpose, as the CRC is: each side
// checks the other.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/modbus_crc.h"

namespace ornat::sim {

// A gateway's exception: the device on its serial side did not answer.
inline constexpr std::uint8_t kGatewayNoAnswer = 0x0B;

struct GatewayRequest {
  std::uint16_t transaction = 0;
  std::uint8_t unit = 0;
  Bytes rtu;  // unit id, PDU and the CRC the gateway computes
};

// Whole requests out of a stream split or joined anywhere.
class MbapRequestReader {
 public:
  // Appends each request the bytes complete. False when a header is not an MBAP
  // header (protocol id not 0, length outside 2..254): nothing after it can be framed,
  // and the gateway drops the connection; error() says why.
  bool Feed(std::span<const std::uint8_t> bytes, std::vector<GatewayRequest>& out);
  const std::string& error() const { return error_; }

 private:
  Bytes buffer_;
  std::string error_;
};

// The MBAP frame of a PDU.
Bytes MbapFrame(std::uint16_t transaction, std::uint8_t unit, std::span<const std::uint8_t> pdu);

// What the gateway sends back after its serial side heard `heard` for `request`: the
// first frame in it with a good CRC, read by the length its function code gives (an
// adapter's echo of the request, stray bytes before and a byte left behind the answer
// are not taken for it), as unit id and PDU; exception 0x0B when nothing in it is a
// frame. A broadcast (unit 0) gets nothing.
Bytes GatewayAnswer(const GatewayRequest& request, std::span<const std::uint8_t> heard);

}  // namespace ornat::sim
