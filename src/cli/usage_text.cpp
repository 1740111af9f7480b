// The text of ornat-cli --help.

#include "cli/cli_options.h"

namespace ornat::cli {

std::string UsageText() {
  return R"(Usage: ornat-cli [OPTIONS] COMMAND [ARGUMENT] [OPTIONS]

Talks to ORNAT(-2)-Zev flame detectors (Modbus-RTU) with the window's own logic:
every frame, timeout and step is the window's.

Commands:
  ports                  the serial ports found (virtual ports included), one a line,
                         then the named lines of the lines file as NAME = TARGET;
                         with -v what the system knows of each port (USB vendor and
                         product, serial number, /dev/serial/by-id name; on Windows
                         the device's name)
  query                  one parameter query: type, state, tactic, latching, test
  watch                  the cyclic query, one line per query; Ctrl-C stops it, then
                         a summary; its status is the last query's, as with query
  set tactic N|NAME      write the tactic: 0 T1MAX, 2 T2MAX, 3 T2MIN, 4 T3_100MIN,
                         5 T3_100MAX, 6 T3_500MIN, 7 T3_500MAX, 8 IRMAX, 9 IRMIN
  set test on|off        switch the UV+IR test mode (reads the detector first)
  reset-alarm            reset an alarm
  set address NEW        change the detector's address (1 to 247); refused when
                         something answers at NEW already (see --force)
  set baud SPEED         change the detector's line speed (see --force)
  reset-interface        put the detector back to address 247 and 9600 bit/s (see
                         --force)
  search                 the window's bus search: the first detector from address 1
  survey                 every device on the line, at one or more speeds
  service F0|F2|F3       a service read: the block's registers as the detector holds
                         them (F0 10 registers, F2 3, F3 2), in hexadecimal

Options:
  --port NAME            serial port, named line or URL (tcp://HOST:PORT,
                         rfc2217://HOST:PORT, modbus-tcp://HOST[:PORT]) (default:
                         the one the window preselects)
  --baud SPEED           the PC's line speed: 1200, 2400, 4800, 9600 (default),
                         14400, 19200, 38400, 57600
  --address N            the detector's address, 1 to 247 (default 247)
  --json                 one JSON document on stdout (JSON Lines for watch)
  --verbose, -v          the TX/RX/message lines of each exchange, as the log shows them
  --journal FILE         append every exchange to FILE as one JSON line
  --delay MS             search: the probe window, 100 to 350 in steps of 50 (default
                         150); survey: wait at least that long for a probe's answer
                         (default: the request on the wire, 40 ms and one byte; 50 ms
                         at 9600 bit/s)
  --net-delay MS          a network line's round trip (0 to 10000 ms), added to every
                         response timeout and to the survey's windows (default 100 on
                         tcp://, rfc2217:// and modbus-tcp://, 0 on a local port)
  --speeds LIST|all      survey: the speeds to sweep, e.g. 9600,19200 (default --baud)
  --addresses RUNS       survey: the addresses, e.g. 1-10,240-247 (default 1-247)
  --count N              watch: stop after N queries, answered or not (a time-out
                         counts as one)
  --force                set address: move the detector even onto an address where
                         something answers (the look there is skipped); set baud,
                         reset-interface: write on tcp:// or modbus-tcp://, whose
                         server keeps its own speed (refused without it: the
                         detector would be lost at the new speed)
  --help, -h             this text
  --version              the version

An option that would change nothing in what the command does is a usage error.

The lines file names lines for the Port menu and --port, one NAME = TARGET a line
(TARGET a URL above or a device path, optionally followed by net-delay=MS, 0 to
10000): $XDG_CONFIG_HOME/ornat/lines (~/.config/ornat/lines) on Linux,
%APPDATA%\ornat\lines.txt on Windows. Its bad lines are told on stderr.

When a write is not acknowledged as sent (TIME OUT, CRC ERROR, an answer from another
address, an echo that differs), the detector may have carried it out all the same;
the message says which query shows it.

Exit status: 0 done; 1 no answer or nothing found; 2 usage error; 3 port error (or a
journal that cannot be opened or misses exchanges); 4 the detector refused or answered
badly (exception, CRC error, an answer from another address, wrong identity or length,
an echo that differs), or set address found its new address taken; 5 done, but the
output could not be written (a full disk, a closed pipe); 6 two or more devices answer
at one address (search, survey; a port error wins over it, it wins over 4 and 1).
watch: 0 only when its last query was answered well, else 1 or 4 as for that query (3
when the port fails). With --json the document's "outcome" names what decided the status.
See ornat-cli(1).
)";
}

}  // namespace ornat::cli
