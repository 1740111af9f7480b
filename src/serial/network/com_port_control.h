#pragma once
// The client side of Telnet COM Port Control (RFC 2217) over the Telnet codec, with no
// I/O: what to send first (BINARY both ways, COM-PORT-OPTION), the answers to the
// server's option negotiation, the line-setting commands (SET-BAUDRATE, SET-DATASIZE,
// SET-PARITY, SET-STOPSIZE, PURGE-DATA) and the server's acknowledgements (the command
// code + 100), each checked against what was asked. A refusal, an acknowledgement of
// another value and Telnet the server got wrong come out as events for the device to
// report; the device also times the acknowledgements it awaits.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "serial/network/telnet_codec.h"

namespace ornat {

namespace rfc2217 {
// The client's commands; the server acknowledges each with its code + kServerOffset.
inline constexpr std::uint8_t kSetBaudRate = 1;  // 4 bytes, high byte first
inline constexpr std::uint8_t kSetDataSize = 2;  // 5..8
inline constexpr std::uint8_t kSetParity = 3;    // kParity*
inline constexpr std::uint8_t kSetStopSize = 4;  // kStop*
inline constexpr std::uint8_t kPurgeData = 12;   // kPurge*
inline constexpr std::uint8_t kServerOffset = 100;
// Notifications the server sends unasked, between data bytes.
inline constexpr std::uint8_t kNotifyLineState = 106;
inline constexpr std::uint8_t kNotifyModemState = 107;

inline constexpr std::uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4,
                              kParitySpace = 5;
inline constexpr std::uint8_t kStopOne = 1, kStopTwo = 2, kStopOneAndHalf = 3;
inline constexpr std::uint8_t kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3;
}  // namespace rfc2217

// Something the server's bytes said that the device acts on.
struct ComPortEvent {
  enum class Kind {
    kAcknowledged,  // command acknowledged with the value asked (value)
    kWrongValue,    // command acknowledged with value, not asked
    kUnasked,       // an acknowledgement of command, which awaits none
    kRefused,       // the server refused option (44 COM-PORT-OPTION, or 0 BINARY)
    kLineState,     // NOTIFY-LINESTATE: value is the line-state byte
    kModemState,    // NOTIFY-MODEMSTATE: value is the modem-state byte
    kMalformed,     // an answer to command of the wrong length
    kTelnetError,   // bytes that are not Telnet (TelnetCommand::well_formed false)
  };
  Kind kind = Kind::kAcknowledged;
  std::uint8_t command = 0;  // the client's command code (kSetBaudRate...); 0 if none
  std::uint8_t option = 0;   // kRefused: the option refused
  std::uint32_t asked = 0;
  std::uint32_t value = 0;
};

// What one batch of incoming bytes held.
struct ComPortInput {
  std::vector<std::uint8_t> data;    // the line's bytes, Telnet taken out
  std::vector<std::uint8_t> answer;  // to send back now (option negotiation)
  std::vector<ComPortEvent> events;
};

class ComPortClient {
 public:
  // The negotiation a client opens with: IAC WILL BINARY, IAC DO BINARY, IAC WILL
  // COM-PORT-OPTION (FF FB 00 FF FD 00 FF FB 2C). Forgets a previous connection's state.
  std::vector<std::uint8_t> Begin();

  // Takes n bytes from the server; appends to in what they held. The state of a
  // command split across calls is kept.
  void Receive(const std::uint8_t* bytes, std::size_t n, ComPortInput& in);

  // The bytes of a command (IAC SB 44 command value IAC SE, 0xFF in the value doubled)
  // and its acknowledgement awaited from now on. value 0 asks the server's current
  // setting, and any value acknowledges it. Empty (and nothing awaited) for a command
  // this client does not make, or a value wider than the command's one byte.
  std::vector<std::uint8_t> Request(std::uint8_t command, std::uint32_t value);

  // Data bytes as they go to the server (0xFF doubled), appended to out.
  void AppendData(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t n) const {
    AppendTelnetData(out, data, n);
  }

  // Acknowledgements asked for and not yet come.
  std::size_t Awaited() const { return awaited_.size(); }
  // The server took COM-PORT-OPTION (answered DO 44), and BINARY both ways.
  bool ComPortAccepted() const { return local_[telnet::kOptionComPort].enabled; }
  bool BinaryBothWays() const {
    return local_[telnet::kOptionBinary].enabled && remote_[telnet::kOptionBinary].enabled;
  }
  // True when no Telnet command has begun without its end.
  bool Idle() const { return decoder_.Idle(); }

 private:
  // One direction of one option: enabled, or asked for and not yet answered.
  struct Side {
    bool enabled = false;
    bool asked = false;
  };
  struct Expected {
    std::uint8_t command;
    std::uint32_t value;
  };

  void Negotiate(const TelnetCommand& command, ComPortInput& in);
  void Subnegotiation(const TelnetCommand& command, ComPortInput& in);

  TelnetDecoder decoder_;
  Side local_[256];   // options this client performs (WILL / WONT)
  Side remote_[256];  // options the server performs (DO / DONT)
  std::deque<Expected> awaited_;
};

// "SET-BAUDRATE", "SET-DATASIZE", "SET-PARITY", "SET-STOPSIZE", "PURGE-DATA", or
// "command N".
std::string ComPortCommandName(std::uint8_t command);

}  // namespace ornat
