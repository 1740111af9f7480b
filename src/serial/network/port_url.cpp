#include "serial/network/port_url.h"

#include <algorithm>
#include <cctype>

namespace ornat {

namespace {

struct SchemeEntry {
  const char* name;
  NetScheme scheme;
};
constexpr SchemeEntry kSchemes[] = {
    {"tcp", NetScheme::kTcp},
    {"rfc2217", NetScheme::kRfc2217},
    {"modbus-tcp", NetScheme::kModbusTcp},
};

bool IsAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsHostChar(char c) {
  return IsAsciiAlpha(c) || IsDigit(c) || c == '-' || c == '_' || c == '.';
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

PortUrlParse Fail(std::string error) {
  return {std::nullopt, std::move(error)};
}

// The port's digits: 1..65535, or nullopt. Long runs of digits are refused before they
// could overflow.
std::optional<std::uint16_t> PortNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), IsDigit))
    return std::nullopt;
  unsigned value = 0;
  for (char c : digits) value = value * 10 + static_cast<unsigned>(c - '0');
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

bool HasUrlScheme(std::string_view name) {
  const std::size_t sep = name.find("://");
  if (sep == std::string_view::npos || sep == 0 || !IsAsciiAlpha(name[0])) return false;
  return std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(sep), [](char c) {
    return IsAsciiAlpha(c) || IsDigit(c) || c == '+' || c == '-' || c == '.';
  });
}

PortUrlParse ParsePortUrl(std::string_view name) {
  std::string quoted = "\"";
  quoted.append(name).push_back('"');
  if (!HasUrlScheme(name)) return Fail(quoted + " is not a URL (scheme://host:port)");
  const std::size_t sep = name.find("://");
  const std::string scheme = Lower(name.substr(0, sep));
  const auto known = std::find_if(std::begin(kSchemes), std::end(kSchemes),
                                  [&](const SchemeEntry& e) { return scheme == e.name; });
  if (known == std::end(kSchemes))
    return Fail(quoted + ": unknown scheme \"" + scheme +
                "\" (the schemes are tcp://, rfc2217:// and modbus-tcp://)");
  PortUrl url;
  url.scheme = known->scheme;
  std::string_view rest = name.substr(sep + 3);

  // The host: an IPv6 address in brackets, or up to the first character a name may not
  // hold.
  std::string_view host;
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos)
      return Fail(quoted + ": the '[' of the host is not closed");
    host = rest.substr(1, close - 1);
    const std::string_view address = host.substr(0, host.find('%'));
    const bool zone_ok = host.size() == address.size() || host.size() > address.size() + 1;
    if (address.find(':') == std::string_view::npos || !zone_ok ||
        !std::all_of(address.begin(), address.end(),
                     [](char c) { return IsHexDigit(c) || c == ':' || c == '.'; }))
      return Fail(quoted + ": \"" + std::string(host) + "\" in brackets is not an IPv6 address");
    url.ipv6 = true;
    rest = rest.substr(close + 1);
  } else {
    std::size_t end = 0;
    while (end < rest.size() && IsHostChar(rest[end])) ++end;
    host = rest.substr(0, end);
    rest = rest.substr(end);
    if (!rest.empty() && rest[0] != ':' && rest[0] != '/')
      return Fail(quoted + ": the host may not hold '" + std::string(1, rest[0]) + "'");
    if (!rest.empty() && rest[0] == ':' && rest.find(':', 1) != std::string_view::npos)
      return Fail(quoted + ": an IPv6 address is written in brackets, as [::1]:4001");
  }
  if (host.empty()) return Fail(quoted + " names no host");
  url.host = std::string(host);

  if (rest.empty()) {
    if (url.scheme != NetScheme::kModbusTcp)
      return Fail(quoted + " names no port (" + scheme + "://host:port)");
    url.port = kModbusTcpDefaultPort;
    return {url, {}};
  }
  if (rest[0] != ':') return Fail(quoted + ": text after the host: \"" + std::string(rest) + "\"");
  rest = rest.substr(1);
  const std::size_t digits_end = std::min(rest.find_first_not_of("0123456789"), rest.size());
  if (digits_end == 0 && !rest.empty())
    return Fail(quoted + ": the port \"" + std::string(rest) + "\" is not a number 1 to 65535");
  if (digits_end < rest.size())
    return Fail(quoted + ": text after the port: \"" + std::string(rest.substr(digits_end)) + "\"");
  const auto port = PortNumber(rest);
  if (!port)
    return Fail(quoted + ": the port " + (rest.empty() ? "is missing" : "is " + std::string(rest)) +
                "; it must be 1 to 65535");
  url.port = *port;
  return {url, {}};
}

std::string FormatPortUrl(const PortUrl& url) {
  const std::string host = url.ipv6 ? "[" + url.host + "]" : url.host;
  return std::string(SchemeName(url.scheme)) + "://" + host + ":" + std::to_string(url.port);
}

const char* SchemeName(NetScheme scheme) {
  for (const SchemeEntry& e : kSchemes)
    if (e.scheme == scheme) return e.name;
  return "?";
}

}  // namespace ornat
