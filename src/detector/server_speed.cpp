#include "detector/server_speed.h"

#include "serial/network/port_url.h"

namespace ornat {

bool ServerKeepsSpeed(std::string_view port) {
  if (!HasUrlScheme(port)) return false;
  // A name that is no URL fails at the open, before anything is written.
  const PortUrlParse parsed = ParsePortUrl(port);
  return parsed.url && parsed.url->scheme != NetScheme::kRfc2217;
}

std::string OnServerLine(std::string_view port, const std::string& question) {
  return ServerKeepsSpeed(port) ? question + " " + kServerSpeedSentence : question;
}

}  // namespace ornat
