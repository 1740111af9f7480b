#include "usage.h"

namespace ornat::sim {

const char kUsage[] = R"(Usage: ornat-sim [OPTIONS]

Simulates ORNAT(-2)-Zev flame detectors (Modbus-RTU slaves) on a serial line. By
default it opens a pseudo-terminal and registers it as the virtual serial port
"ornat-sim", which the window's Port menu lists; the window then talks to the
simulated detector as to a real one. Answers go out at the bit rate the master has
set on the port, 10 bits a byte, after a turnaround.

Line:
  --name NAME          name of the virtual port (default ornat-sim). The link
                       $XDG_RUNTIME_DIR/ornat/ports/NAME (or /tmp/ornat-UID/ports/NAME)
                       points at the pty while ornat-sim runs and holds the lock
                       ornat/locks/NAME; a name another running ornat-sim holds is
                       refused.
  --device PATH        serve a real serial port instead of a pty (no registration).
                       The port runs at the line speed of the first detector.
  --listen URL         serve a TCP port instead of a pty (no registration), one
                       client at a time (the next once the first has gone):
                         tcp://[HOST]:PORT         RTU frames as on the serial line,
                                                   as a serial device server passes them
                         modbus-tcp://[HOST][:PORT] a Modbus TCP/RTU gateway: MBAP in
                                                   and out (port 502 unless given)
                       HOST is 127.0.0.1 unless given (an IPv6 address in brackets,
                       [::1]); PORT 0 takes a free one. The line runs at the first
                       detector's speed and keeps it, as a server does: a detector
                       told another speed is lost to it.
  --gateway-timeout MS how long the modbus-tcp gateway waits for a detector's first
                       byte before it answers exception 0x0B (default 100)
  --turnaround MS      silence between a request and its answer (default 5)
  --garble             a detector addressed at a line speed other than its own
                       answers 8 random bytes (default: it stays silent)
  --noise N@MS         N random bytes on the line every MS ms, in one burst (line
                       noise, or a device that talks out of turn)
  --wire-log FILE      log every frame with microsecond times (format below)
  --seed N             seed of the random choices (bad-CRC chance, garbage)
  --no-console         do not read commands from stdin; run until SIGINT/SIGTERM.
                       Without it, end of input on stdin ends the program.

Detectors:
  --detector DEF       put a detector on the line (repeatable; default one at 247).
                       DEF is ADDR[:OPT,OPT...], each OPT a console command written
                       verb=arg (a second argument after '@') or an on/off verb alone:
                         speed=CODE   line-speed code 1..8 (default 4 = 9600 bit/s)
                         id=VALUE     identity in register 0 (right one: 0x0010)
                         alarm fault normal state=N tactic=N test latch=off
                         silent crc=P echo stray=N[@BYTE] pause=MS[@AFTER]
                         exception=CODE regs=N delay=MS unpaced answer-from=ADDR
                         trailing=N[@BYTE] latency=MS
                       e.g. --detector 5:speed=6,tactic=3 --detector 9:id=0x0011
Faults for every detector (a detector's own options come after them):
  --silent             no answer at all
  --bad-crc P          corrupt the answer's CRC with chance P (1 = always)
  --echo               the request comes back before the answer
  --stray N[@BYTE]     N noise bytes (default 0xFF) before the answer
  --pause MS[@AFTER]   a silence of MS ms inside the answer, after AFTER bytes
  --exception CODE     answer every request with exception CODE (1, 2, 3...)
  --identity VALUE     another identity in register 0
  --query-regs N       answer the parameter query with N registers (5, 6 or 8)
  --delay MS           answer MS ms late
  --unpaced            write each answer whole, in one go after the turnaround, as
                       a slave that does not pace its bytes or an adapter that
                       passes on one packet does (the wire log's TX line then has
                       last= equal to its time)
  --answer-from ADDR   answer with ADDR in byte 0 (the CRC made to fit), as a
                       faulty unit or another device answering in its place;
                       the request is carried out all the same
  --trailing N[@BYTE]  N bytes (default 0x00) right behind the answer, as an RS-485
                       transmitter leaves one when it turns off
  --adapter-latency MS hand the answers' bytes to the pty in bursts, one every MS
                       ms, as a USB adapter's latency timer does (FTDI: 16)
  --help               this text

Standard output: first the line "PORT NAME SLAVE-PATH" (or "DEVICE PATH", or
"LISTEN URL" with the port it listens on), then the
answers of console commands (each ends with a line "OK ..." or "ERR ...") and lines
"EVENT #N address A -> B" / "EVENT #N speed C -> D" when the master changes a detector.

Console commands on stdin (one a line; "help" lists them all): alarm, fault, normal,
tactic N, test on|off, latch on|off, addr N, speed CODE, set REG VALUE, id VALUE,
regs N, silent on|off, crc P, echo on|off, stray N, pause MS [AFTER], exception
CODE|off, delay MS, unpaced on|off, answer-from ADDR|off, trailing N [BYTE],
latency MS, clear, factory, show, select ADDR, add DEF, garble on|off, turnaround MS,
fault-inject KIND ARGS, quit. '@ADDR CMD' sends one command to the detector at ADDR.

Wire log: a header line starting with '#', then one line per frame:
  TIME RX HEX...            a request (or noise) from the master
  TIME TX HEX... last=TIME  an answer; TIME is its first byte, last= its last byte
  TIME EV TEXT              an interface change, the master opening or closing the port
TIME is microseconds since start with three decimals; "note=..." at the end of a line
says why a frame was not answered normally (not-addressed, foreign-speed, noise...).
)";

}  // namespace ornat::sim
