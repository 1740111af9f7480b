#pragma once
// The round-trip allowance of a line reached through the network (a serial device
// server, an RFC 2217 server, a Modbus TCP gateway): the time a request and its answer
// spend on the network beside the serial line. The engine adds it to every response
// timeout (the window's by line speed, the bus search's probe timeout) and the survey to
// its windows; the end-of-answer gap, the settling time and every other time stay.

#include <optional>
#include <string_view>

#include "serial/network/port_url.h"

namespace ornat {

// A network line's allowance unless one is chosen.
inline constexpr int kNetworkRoundTripMs = 100;

// The allowance on the line named `port`: `chosen` when one was chosen (it holds for a
// local port too, a socat link to a remote line, say), else 100 ms on a network line (a
// name with a URL scheme) and 0 on a local port.
int RoundTripAllowanceMs(std::string_view port, std::optional<int> chosen);

}  // namespace ornat
