#pragma once
// Modbus TCP framing for a Modbus TCP/RTU gateway, with no I/O. A request the engine
// built as an RTU frame (address, PDU, CRC) goes out as an MBAP header (transaction
// id, protocol 0, length, unit id = the address) and the PDU; the gateway's answer
// comes back as the RTU frame it exchanged with the detector on its serial side (the
// address, the PDU and the CRC a gateway computes), so the engine, the log and the
// journal see the frames of a local line. A gateway's own exceptions 0x0A and 0x0B,
// which say that the detector did not answer, are told apart from the detector's.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ornat {

inline constexpr std::size_t kMbapHeaderLength = 7;  // transaction, protocol, length, unit
// The MBAP length counts the unit id and the PDU: 2 (unit, function) to 254 (the
// longest PDU, 253 bytes, as on a serial line).
inline constexpr std::uint16_t kMbapShortestLength = 2;
inline constexpr std::uint16_t kMbapLongestLength = 254;
// A gateway's exceptions: no path to the serial line, and no answer from the device.
inline constexpr std::uint8_t kGatewayPathUnavailable = 0x0A;
inline constexpr std::uint8_t kGatewayTargetFailedToRespond = 0x0B;

// What EncodeMbapRequest made of an RTU request.
struct MbapRequest {
  std::vector<std::uint8_t> bytes;  // header + PDU; empty on an error
  std::string error;
};

// The MBAP frame of an RTU request of n bytes (address, PDU, CRC low byte first), with
// the given transaction id. Errors (no bytes): fewer than 4 bytes, more than 256, or a
// CRC that does not fit; such a frame would not reach the detector on a local line, so
// it must not reach it through a gateway, which would send it with a sound CRC.
MbapRequest EncodeMbapRequest(const std::uint8_t* rtu, std::size_t n, std::uint16_t transaction);

// One frame from the gateway, header checked for its protocol id and length.
struct MbapFrame {
  std::uint16_t transaction = 0;
  std::uint8_t unit = 0;
  std::vector<std::uint8_t> pdu;  // at least the function code
};

// A frame's bytes as the network carried them (the reader took only frames whose
// protocol id is 0 and whose length is the unit id and the PDU): header, then PDU.
std::vector<std::uint8_t> MbapBytes(const MbapFrame& frame);

// Whole frames out of a TCP byte stream split anywhere.
class MbapReader {
 public:
  // Takes n bytes; appends each frame they complete to frames. False when a header is
  // not an MBAP header (protocol id not 0, length below 2 or above 254): the stream
  // cannot be framed again after it (the device drops the connection), error() says
  // why, and the reader takes nothing until Reset.
  bool Feed(const std::uint8_t* bytes, std::size_t n, std::vector<MbapFrame>& frames);

  const std::string& error() const { return error_; }
  // True when no frame has begun without its end.
  bool Idle() const { return buffer_.empty(); }
  // Forgets the bytes of a frame begun and an error (a new connection).
  void Reset();

 private:
  std::vector<std::uint8_t> buffer_;
  std::string error_;
};

// What a gateway's frame says about the request sent with transaction and unit.
struct GatewayAnswer {
  enum class Kind {
    kAnswer,            // the detector answered (its own exceptions included): rtu
    kNoAnswer,          // the gateway's exception 0x0A or 0x0B: gateway_code
    kWrongTransaction,  // another transaction's answer: error
    kWrongUnit,         // the right transaction, another unit: error
  };
  Kind kind = Kind::kAnswer;
  std::vector<std::uint8_t> rtu;  // address + PDU + CRC (low byte first)
  std::uint8_t gateway_code = 0;
  std::string error;
};

// Checks frame against the request's transaction id and unit id and turns it into the
// detector's RTU answer, or says why it is not one.
GatewayAnswer DecodeMbapAnswer(const MbapFrame& frame, std::uint16_t transaction,
                               std::uint8_t unit);

}  // namespace ornat
