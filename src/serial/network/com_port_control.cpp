#include "serial/network/com_port_control.h"

#include <algorithm>

namespace ornat {

namespace {

using namespace telnet;

// The options this client performs, and those it lets the server perform. Every other
// option is refused: WONT to a DO, DONT to a WILL.
bool LocalSupported(std::uint8_t option) {
  return option == kOptionBinary || option == kOptionComPort || option == kOptionSuppressGoAhead;
}
bool RemoteSupported(std::uint8_t option) {
  return option == kOptionBinary || option == kOptionSuppressGoAhead;
}

// The width of a command's value in bytes; 0 for a command this client does not make.
std::size_t ValueWidth(std::uint8_t command) {
  switch (command) {
    case rfc2217::kSetBaudRate:
      return 4;
    case rfc2217::kSetDataSize:
    case rfc2217::kSetParity:
    case rfc2217::kSetStopSize:
    case rfc2217::kPurgeData:
      return 1;
    default:
      return 0;
  }
}

void Send(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
  for (std::uint8_t b : {kIac, verb, option}) out.push_back(b);
}

}  // namespace

std::vector<std::uint8_t> ComPortClient::Begin() {
  decoder_.Reset();
  for (Side& s : local_) s = {};
  for (Side& s : remote_) s = {};
  awaited_.clear();
  std::vector<std::uint8_t> out;
  Send(out, kWill, kOptionBinary);
  Send(out, kDo, kOptionBinary);
  Send(out, kWill, kOptionComPort);
  local_[kOptionBinary].asked = true;
  remote_[kOptionBinary].asked = true;
  local_[kOptionComPort].asked = true;
  return out;
}

void ComPortClient::Receive(const std::uint8_t* bytes, std::size_t n, ComPortInput& in) {
  std::vector<TelnetCommand> commands;
  decoder_.Feed(bytes, n, in.data, commands);
  for (const TelnetCommand& c : commands) {
    if (!c.well_formed) {
      ComPortEvent e;
      e.kind = ComPortEvent::Kind::kTelnetError;
      e.option = c.option;
      in.events.push_back(e);
    } else if (c.verb >= kWill && c.verb <= kDont) {
      Negotiate(c, in);
    } else if (c.verb == kSb && c.option == kOptionComPort) {
      Subnegotiation(c, in);
    }
    // Other commands (NOP, GA, a subnegotiation of another option) change nothing.
  }
}

void ComPortClient::Negotiate(const TelnetCommand& c, ComPortInput& in) {
  const std::uint8_t option = c.option;
  auto refused = [&] {
    ComPortEvent e;
    e.kind = ComPortEvent::Kind::kRefused;
    e.option = option;
    in.events.push_back(e);
  };
  // Answers only change of state (a request it did not make itself, or a withdrawal),
  // so that two sides never answer each other's answers in a loop.
  const bool ours = c.verb == kDo || c.verb == kDont;
  Side& side = ours ? local_[option] : remote_[option];
  const bool supported = ours ? LocalSupported(option) : RemoteSupported(option);
  const std::uint8_t yes = ours ? kWill : kDo;
  const std::uint8_t no = ours ? kWont : kDont;
  if (c.verb == kDo || c.verb == kWill) {
    if (!supported) {
      Send(in.answer, no, option);
      return;
    }
    if (!side.enabled && !side.asked) Send(in.answer, yes, option);
    side = {true, false};
    return;
  }
  // DONT or WONT.
  if (side.asked) {
    side = {};
    refused();
  } else if (side.enabled) {
    side = {};
    Send(in.answer, no, option);
    if (option == kOptionComPort || option == kOptionBinary) refused();
  } else if (option == kOptionComPort && c.verb == kWont && local_[option].asked) {
    // WONT 44 to our WILL 44 is the wrong verb, but a refusal all the same.
    local_[option] = {};
    refused();
  }
}

void ComPortClient::Subnegotiation(const TelnetCommand& c, ComPortInput& in) {
  if (c.payload.empty()) return;
  const std::uint8_t code = c.payload[0];
  ComPortEvent e;
  if (code == rfc2217::kNotifyLineState || code == rfc2217::kNotifyModemState) {
    if (c.payload.size() != 2) return;
    e.kind = code == rfc2217::kNotifyLineState ? ComPortEvent::Kind::kLineState
                                               : ComPortEvent::Kind::kModemState;
    e.value = c.payload[1];
    in.events.push_back(e);
    return;
  }
  if (code < rfc2217::kServerOffset) return;
  e.command = static_cast<std::uint8_t>(code - rfc2217::kServerOffset);
  const std::size_t width = ValueWidth(e.command);
  if (width == 0) return;  // an answer to a command this client never makes
  if (c.payload.size() != 1 + width) {
    e.kind = ComPortEvent::Kind::kMalformed;
    in.events.push_back(e);
    return;
  }
  for (std::size_t i = 1; i <= width; ++i) e.value = (e.value << 8) | c.payload[i];
  const auto it = std::find_if(awaited_.begin(), awaited_.end(),
                               [&](const Expected& a) { return a.command == e.command; });
  if (it == awaited_.end()) {
    e.kind = ComPortEvent::Kind::kUnasked;
  } else {
    e.asked = it->value;
    e.kind = it->value == 0 || it->value == e.value ? ComPortEvent::Kind::kAcknowledged
                                                    : ComPortEvent::Kind::kWrongValue;
    awaited_.erase(it);
  }
  in.events.push_back(e);
}

std::vector<std::uint8_t> ComPortClient::Request(std::uint8_t command, std::uint32_t value) {
  const std::size_t width = ValueWidth(command);
  if (width == 0 || (width == 1 && value > 0xFF)) return {};
  std::vector<std::uint8_t> out = {kIac, kSb, kOptionComPort, command};
  std::uint8_t bytes[4];
  for (std::size_t i = 0; i < width; ++i)
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
  AppendTelnetData(out, bytes, width);
  out.push_back(kIac);
  out.push_back(kSe);
  awaited_.push_back({command, value});
  return out;
}

std::string ComPortCommandName(std::uint8_t command) {
  switch (command) {
    case rfc2217::kSetBaudRate:
      return "SET-BAUDRATE";
    case rfc2217::kSetDataSize:
      return "SET-DATASIZE";
    case rfc2217::kSetParity:
      return "SET-PARITY";
    case rfc2217::kSetStopSize:
      return "SET-STOPSIZE";
    case rfc2217::kPurgeData:
      return "PURGE-DATA";
    default:
      return "command " + std::to_string(command);
  }
}

}  // namespace ornat
