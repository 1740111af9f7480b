#pragma once
// The Telnet layer under RFC 2217, as a byte-stream codec with no I/O: data going out
// with every 0xFF doubled, and bytes coming in split into data and Telnet commands.
// The decoder keeps its state between calls, so a command (or a doubled 0xFF) split
// anywhere across two reads comes out as if it had arrived in one.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ornat {

namespace telnet {
inline constexpr std::uint8_t kIac = 255;   // "interpret as command"
inline constexpr std::uint8_t kDont = 254;  // the four option verbs
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;  // subnegotiation: IAC SB option ... IAC SE
inline constexpr std::uint8_t kSe = 240;
// The lowest command code: IAC followed by a smaller byte is not Telnet.
inline constexpr std::uint8_t kLowestCommand = kSe;

inline constexpr std::uint8_t kOptionBinary = 0;
inline constexpr std::uint8_t kOptionSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptionComPort = 44;
}  // namespace telnet

// Appends n data bytes to out as they go on the wire: each 0xFF as 0xFF 0xFF.
void AppendTelnetData(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t n);

// A Telnet command taken out of the incoming bytes.
struct TelnetCommand {
  // telnet::kWill, kWont, kDo, kDont (with option), telnet::kSb (with option and
  // payload), or a two-byte command (NOP, GA, ...: its code, no option).
  std::uint8_t verb = 0;
  std::uint8_t option = 0;
  std::vector<std::uint8_t> payload;  // a subnegotiation's bytes, IAC IAC undone
  // False for what a correct peer never sends: IAC followed by a byte below SE (the
  // byte is dropped), a subnegotiation that IAC and another command cut short (the
  // command after it is decoded as usual), or one longer than
  // TelnetDecoder::kMaxSubnegotiation (the rest of its bytes are dropped).
  bool well_formed = true;
};

class TelnetDecoder {
 public:
  // No subnegotiation this client takes is longer; a longer one is not kept whole, so
  // that a peer talking nonsense cannot make the buffer grow.
  static constexpr std::size_t kMaxSubnegotiation = 64;

  // Takes n incoming bytes: appends their data bytes to data (0xFF 0xFF as one 0xFF)
  // and each command completed by them to commands, in the order they came.
  void Feed(const std::uint8_t* bytes, std::size_t n, std::vector<std::uint8_t>& data,
            std::vector<TelnetCommand>& commands);

  // True when no command has begun without its end: the bytes so far were all data
  // and whole commands.
  bool Idle() const { return state_ == State::kData; }

  // Forgets a command begun (a new connection).
  void Reset();

 private:
  enum class State { kData, kIac, kOption, kSbOption, kSb, kSbIac };
  State state_ = State::kData;
  TelnetCommand pending_;  // the command being read
  bool overlong_ = false;
};

}  // namespace ornat
