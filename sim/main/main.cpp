// ornat-sim: simulated ОРНАТ(-2)-Zev detectors behind a pseudo-terminal (or a real serial
// port), for the service tool and its tests. See docs/simulator.md and --help.
//
// usage.cpp: the --help text; options.cpp: the command line; simulator.cpp and
// transmissions.cpp: the program's loop on the line; line_end.cpp: the pty or serial
// port it runs on; console_io.cpp: the console on stdin and stdout; wire_log.cpp,
// port_registry.cpp, line_speed.cpp: the wire log, the port's registration, termios2.

#include <cstdio>
#include <string>
#include <utility>

#include "model/bus.h"
#include "model/console.h"
#include "options.h"
#include "simulator.h"

int main(int argc, char** argv) {
  using namespace ornat::sim;
  Options options;
  if (const int code = ParseArgs(argc, argv, options); code != 0)
    return code == kHelpShown ? 0 : code;

  Bus bus(
      BusOptions{std::chrono::milliseconds(options.turnaround_ms), options.garble, options.seed});
  // Every detector gets the global fault options first, then its own.
  for (const std::string& full : DetectorDefinitions(options)) {
    Bus::Detector d{DetectorModel(), Faults{}};
    std::string error;
    if (!ParseDetectorDefinition(full, d, error)) {
      std::fprintf(stderr, "ornat-sim: --detector %s\n", error.c_str());
      return 2;
    }
    bus.Add(std::move(d.model), d.faults);
  }

  Simulator sim(options, bus);
  if (!sim.Start()) return 1;
  return sim.Run();
}
