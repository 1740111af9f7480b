#pragma once
// BusyLine: a busy Modbus-RTU line of slaves that are not ours, run by
// support/busy_line.py with Debian's python3: pymodbus's serial server plays each unit,
// behind one pseudo-terminal, with each unit's turnaround, two units at one address,
// noise, trailing bytes, units at other speeds and an unplug. Its options are the
// script's (--unit ADDR[:OPT,...], --noise N@MS, --seed S, --registers LIST, ...); it runs
// as SimProcess runs ornat-sim: in a folder of its own as XDG_RUNTIME_DIR, where it
// registers its port ("busy-line"), with its console ("unplug", "plug") and its wire log.
// Header-only.
//
//   ORNAT_SKIP_IF_MISSING(BusyLineMissing());
//   BusyLine line({"--unit", "10", "--unit", "13:turnaround=60"});
//   ASSERT_TRUE(line.Started()) << BusyLine::Why();
//   RunCli({"survey", "--port", line.port_name()}, line.runtime_dir());

#include <string>
#include <utility>
#include <vector>

#include "support/sim_process.h"
#include "support/test_environment.h"

namespace ornat::testing {

// What the busy line lacks here (Debian's python3 with pymodbus), or "".
inline std::string BusyLineMissing() {
  return PythonModuleMissing(ORNAT_DEBIAN_PYTHON, "pymodbus.server", "python3-pymodbus");
}

class BusyLine : public SimProcess {
 public:
  explicit BusyLine(std::vector<std::string> args)
      : SimProcess(ORNAT_DEBIAN_PYTHON, {ORNAT_BUSY_LINE_SCRIPT}, std::move(args)) {}

  static std::string Why() {
    return "the pymodbus line did not start (python3-pymodbus, python3-serial and "
           "python3-serial-asyncio: bash scripts/deps.sh installs them)";
  }
};

}  // namespace ornat::testing
