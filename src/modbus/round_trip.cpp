#include "modbus/round_trip.h"

#include "serial/network/port_url.h"

namespace ornat {

int RoundTripAllowanceMs(std::string_view port, std::optional<int> chosen) {
  if (chosen) return *chosen;
  return HasUrlScheme(port) ? kNetworkRoundTripMs : 0;
}

}  // namespace ornat
