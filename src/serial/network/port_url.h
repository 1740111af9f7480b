#pragma once
// A port name that names a line on the network rather than a local serial port:
// "tcp://HOST:PORT" (RTU frames over one TCP connection to a serial device server),
// "rfc2217://HOST:PORT" (the same with Telnet COM Port Control, so that the line
// settings reach the server's port) and "modbus-tcp://HOST[:PORT]" (a Modbus TCP/RTU
// gateway, port 502 unless given). An IPv6 address stands in brackets:
// "rfc2217://[::1]:4001". A name without "scheme://" is a local port ("/dev/ttyUSB0",
// "COM5", "/tmp/ttyV0") and is not looked at here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ornat {

enum class NetScheme { kTcp, kRfc2217, kModbusTcp };

inline constexpr std::uint16_t kModbusTcpDefaultPort = 502;

// The most round-trip allowance (--net-delay, a lines file's net-delay=MS) a network
// line may be given, in ms.
inline constexpr int kMaxNetDelayMs = 10000;

struct PortUrl {
  NetScheme scheme = NetScheme::kTcp;
  std::string host;        // a name or an IPv4 address as written; an IPv6 address without brackets
  std::uint16_t port = 0;  // 1..65535
  bool ipv6 = false;       // host was written in brackets
};

// What ParsePortUrl makes of a name: the URL, or the reason it is not one.
struct PortUrlParse {
  std::optional<PortUrl> url;
  std::string error;  // empty when url is set
};

// True when name begins with "scheme://" (a letter, then letters, digits, '+', '-' or
// '.'): it is meant as a URL, known scheme or not, and ParsePortUrl judges it. False for
// every local port name, which then goes to the serial device as it is.
bool HasUrlScheme(std::string_view name);

// The URL a name with a scheme stands for. The scheme is taken in any case; the host is
// a name of letters, digits, '-', '_' and '.', or an IPv6 address in brackets (hex
// digits, ':' and '.', with an optional "%zone"); the port is 1..65535 in decimal, and
// required except for modbus-tcp. Nothing may follow the port. Errors (url empty,
// error a sentence naming what is wrong): an unknown scheme, no host, a host with other
// characters (an IPv6 address without brackets, "user@host"), an unclosed bracket, a
// missing, non-numeric or out-of-range port, text after the port.
PortUrlParse ParsePortUrl(std::string_view name);

// The URL written back in one spelling ("rfc2217://[::1]:4001", the scheme in lower
// case and the port always given), so that two names of one line compare equal.
std::string FormatPortUrl(const PortUrl& url);

// "tcp", "rfc2217", "modbus-tcp".
const char* SchemeName(NetScheme scheme);

}  // namespace ornat
