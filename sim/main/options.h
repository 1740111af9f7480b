#pragma once
// ornat-sim's command line: the options it takes (kUsage lists them) read into Options,
// with the message and exit status of a usage error.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/bus.h"
#include "serial/network/port_url.h"

namespace ornat::sim {

struct Options {
  std::string name = "ornat-sim";
  std::string device;
  // --listen: a TCP line (tcp:// or modbus-tcp://) instead of a pty.
  std::optional<PortUrl> listen;
  // How long the Modbus TCP gateway waits for a detector's first byte before it
  // answers exception 0x0B.
  long long gateway_timeout_ms = 100;
  std::vector<std::string> detectors;
  std::string global_options;  // detector options that every detector gets first
  long long turnaround_ms = 5;
  bool garble = false;
  std::string wire_log;
  std::uint32_t seed = BusOptions{}.seed;
  bool console = true;
  // --noise: so many random bytes every so many ms (0: none).
  std::size_t noise_bytes = 0;
  long long noise_period_ms = 0;
};

constexpr int kHelpShown = -1;

// Parses the command line; returns 0 to go on, kHelpShown after --help (printed), else
// the exit code of a usage error (its message printed on stderr).
int ParseArgs(int argc, char** argv, Options& o);

// Each --detector definition as the detector gets it: the options given for every
// detector first, then its own ("5:speed=6" with --silent: "5:silent,speed=6").
std::vector<std::string> DetectorDefinitions(const Options& o);

}  // namespace ornat::sim
