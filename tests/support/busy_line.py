#!/usr/bin/python3
"""A busy Modbus-RTU line of slaves that are not ours, as an engineer meets it in the
field: several units on one line, each with its own turnaround, two units at one
address, noise, a transmitter's trailing byte, units at another speed, an adapter that
is unplugged and plugged in again.

pymodbus's own serial server (python3-pymodbus 3.0, Debian's) does the Modbus work of
each unit, on a pseudo-terminal of its own. A relay between those and the master's
pseudo-terminal makes the line: it hands each request to the units it addresses (those
at the master's bit rate), holds each answer for its unit's turnaround (counted from the
request's last byte), puts the answers of units at one address one after the other or
on the wire at once (their bits ANDed, as two RS-485 drivers at once give), adds
noise and trailing bytes, and writes the answers whole (as pymodbus does) or paced at
the bit rate. It holds only the masters of the ptys, so the master's port is held by
nobody else; while nobody has it open, answers are dropped (a closed port hears nothing).

At start it prints "PORT NAME /dev/pts/N" (the port is registered as NAME, as ornat-sim
registers itself, so `ornat-cli --port NAME` finds it) and "SEED S". Console on stdin:
"unplug" (the master's pty is hung up and the name goes, as a USB adapter pulled out),
"plug" (a new pty under the same name), "quit"; SIGUSR1 and SIGUSR2 unplug and plug.
It ends at the end of stdin (unless --no-console), on "quit", SIGTERM or SIGINT.
A unit whose address register is written answers at the new address after its echo
(unless another unit shares its old address); broadcasts are not carried out.

  --unit ADDR[:OPT,...]  a unit at ADDR, repeatable; without any, one unit answers every
                         address. OPT: turnaround=MS, collide[=MS] (on the wire MS ms,
                         default 0.5, after the start of the answer of the unit before
                         it at its address, over it; otherwise it answers once that
                         answer is out), tail[=BYTE] (a byte behind each answer, in the
                         same write; default 0x00), paced, garble (at another speed:
                         8 random bytes, not silence), id=V, speed=CODE, state=N,
                         tactic=N, test, regs=V/V/..., answer-as=N, echo-value=N,
                         answer-raw=HEX
  --registers LIST       every unit's holding registers from 0 (default: a detector's,
                         0x10, its address, 4 (9600 bit/s), 0, 0, 0, 0, 0)
  --turnaround MS, --paced, --garble, --answer-as N, --echo-value N, --answer-raw HEX
                         the unit options for every unit (a unit's own come after)
  --noise N@MS           N random bytes to the master every MS milliseconds (the units
                         do not hear them: their framing is pymodbus's, by CRC only)
  --seed S               the seed of noise and garble (printed at start)
  --name NAME            the registered port name (default busy-line)
  --wire-log FILE        every frame each way with its time, as ornat-sim's wire log
  --no-console           do not read stdin
"""

import argparse
import asyncio
import ctypes
import fcntl
import heapq
import logging
import os
import queue
import random
import select
import signal
import struct
import sys
import threading
import time
import traceback
import tty

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.register_write_message import WriteSingleRegisterResponse
from pymodbus.server.async_io import ModbusSerialServer

SPEEDS = {1: 1200, 2: 2400, 3: 4800, 4: 9600, 5: 14400, 6: 19200, 7: 38400, 8: 57600}
TCGETS2 = 0x802C542A  # _IOR('T', 0x2A, struct termios2) on x86-64 and arm64
CBAUD = 0o010017
IN_OPEN, IN_CLOSE = 0x20, 0x18
WAIT_FOR_PYMODBUS = 0.5  # seconds: a unit that has not answered by then does not


def number(text):
    return int(text, 0)


def crc16(frame):
    crc = 0xFFFF
    for byte in frame:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def with_crc(frame):
    return frame + crc16(frame)


SAY = threading.Lock()


def say(text):
    """One line on stdout, whole, whichever thread says it."""
    with SAY:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()


def hexes(data):
    return " ".join(f"{b:02X}" for b in data)


def line_bit_rate(fd):
    """The rate the master set on its end of the pty (termios2 reads 14400 exactly)."""
    try:
        raw = fcntl.ioctl(fd, TCGETS2, bytes(44))
    except OSError:
        return 9600
    fields = struct.unpack("IIIIB19sII", raw)
    cflag, ospeed = fields[2], fields[7]
    return ospeed if cflag & CBAUD and ospeed else 9600  # B0 counts as 9600


def answer_length(data):
    """The length of the Modbus answer at the start of data, or None while unknown."""
    if len(data) < 3:
        return None
    if data[1] & 0x80:
        return 5
    if data[1] in (3, 4):
        return 5 + data[2]
    if data[1] in (5, 6, 15, 16):
        return 8
    return len(data)


def wire_and(transmissions, rate):
    """What a UART reads from the wire while several drivers send at once, each wire
    bit the AND of theirs: [(time its stop bit ends, byte)]; a byte whose stop bit is
    missing keeps its data bits (Linux hands it over so without INPCK), and the next
    start bit is looked for once the line is idle again. transmissions: [(start, bytes)]."""
    per_bit = 8  # samples
    bit = 1.0 / rate
    t0 = min(start for start, _ in transmissions)
    offsets = [round((start - t0) / bit * per_bit) for start, _ in transmissions]
    n = max(o + len(d) * 10 * per_bit for o, (_, d) in zip(offsets, transmissions)) + per_bit
    wire = bytearray([1]) * n
    for offset, (_, data) in zip(offsets, transmissions):
        for i, byte in enumerate(data):
            bits = [0] + [(byte >> k) & 1 for k in range(8)] + [1]
            for j, value in enumerate(bits):
                if value == 0:
                    at = offset + (i * 10 + j) * per_bit
                    wire[at:at + per_bit] = bytes(per_bit)
    out, i = [], 0
    while i < n:
        mid = i + per_bit // 2
        if wire[i] or mid >= n or wire[mid]:
            i += 1
            continue
        if mid + 9 * per_bit >= n:
            break
        byte = sum(wire[mid + (k + 1) * per_bit] << k for k in range(8))
        stop = mid + 9 * per_bit
        out.append((t0 + (stop + per_bit // 2) / per_bit * bit, byte))
        i = stop
        while i < n and not wire[i]:  # after a framing error: wait for the idle line
            i += 1
    return out


class Unit:
    def __init__(self, address, options, defaults, registers):
        self.address = address  # None: answers every address
        self.label = "any" if address is None else str(address)
        opts = dict(defaults)
        opts.update(options)
        self.turnaround = float(opts.get("turnaround", 0)) / 1000.0
        # Seconds after the start of the answer before it at its address; None: after it.
        self.collide = float(opts["collide"] or 0.5) / 1000.0 if "collide" in opts else None
        self.tail = bytes([number(opts["tail"])]) if "tail" in opts else b""
        self.paced = "paced" in opts
        self.garble = "garble" in opts
        self.answer_as = number(opts["answer-as"]) if "answer-as" in opts else None
        self.echo_value = number(opts["echo-value"]) if "echo-value" in opts else None
        self.answer_raw = opts.get("answer-raw")
        if registers is None:
            registers = [0x10, 247 if address is None else address, 4, 0, 0, 0, 0, 0]
        registers = list(registers)
        if "regs" in opts:
            registers = [number(v) for v in opts["regs"].split("/")]
        for key, reg in (("id", 0), ("speed", 2), ("state", 3), ("tactic", 4)):
            if key in opts:
                registers[reg] = number(opts[key])
        if "test" in opts:
            registers[7] = 1
        self.store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, registers),
                                        zero_mode=True)
        if address is None:
            self.context = ModbusServerContext(slaves=self.store, single=True)
        else:
            self.context = ModbusServerContext(slaves={address: self.store}, single=False)
        self.fd = -1  # the relay's end of this unit's pty
        self.received = b""
        self.busy_until = 0.0

    def register(self, reg):
        return self.store.getValues(3, reg, 1)[0]

    def bit_rate(self):
        return SPEEDS.get(self.register(2))

    def manipulate(self, response):
        if self.answer_raw is not None:
            return with_crc(bytes.fromhex(self.answer_raw)), True
        if self.answer_as is not None:
            response.unit_id = self.answer_as
        if self.echo_value is not None and isinstance(response, WriteSingleRegisterResponse):
            response.value = self.echo_value
        return response, False


class Registration:
    """The port name, registered as ornat-sim registers its own (see
    src/serial/platform/posix_port_registry.h): the link <ports>/NAME to the pty and the
    lock file <ports>/../locks/NAME holding "PID TARGET\\n" under an open-file-description
    write lock, which the kernel drops when this process ends, however it ends. The lock
    is held from the start, so the name stays ours while the line is unplugged; the link
    is there only while it is plugged in, so the name is not offered meanwhile."""

    def __init__(self, name):
        if not name or "/" in name or name in (".", ".."):
            raise SystemExit(f"invalid port name '{name}'")
        runtime = os.environ.get("XDG_RUNTIME_DIR")
        base = os.path.join(runtime, "ornat") if runtime else f"/tmp/ornat-{os.getuid()}"
        for folder in (base, os.path.join(base, "ports"), os.path.join(base, "locks")):
            os.makedirs(folder, mode=0o700, exist_ok=True)
            if not runtime and (os.lstat(folder).st_uid != os.getuid()
                                or os.lstat(folder).st_mode & 0o022):
                raise SystemExit(f"{folder} belongs to another user or is writable by others")
        self.name = name
        self.link = os.path.join(base, "ports", name)
        self.lock_path = os.path.join(base, "locks", name)
        self.target = None
        self.lock_fd = os.open(self.lock_path,
                               os.O_RDWR | os.O_CREAT | os.O_CLOEXEC | os.O_NOFOLLOW, 0o600)
        try:
            fcntl.fcntl(self.lock_fd, fcntl.F_OFD_SETLK,
                        struct.pack("hhqqi4x", fcntl.F_WRLCK, 0, 0, 0, 0))
        except OSError:
            holder = os.pread(self.lock_fd, 64, 0).split(b" ")[0].decode(errors="replace")
            raise SystemExit(f"the port name '{name}' is registered by another running "
                             f"program (pid {holder}); choose another with --name")

    def create(self, target):
        os.ftruncate(self.lock_fd, 0)
        os.pwrite(self.lock_fd, f"{os.getpid()} {target}\n".encode(), 0)
        # Made under another name and renamed into place: a reader never sees half a link.
        tmp = f"{os.path.dirname(self.link)}/.{self.name}.tmp.{os.getpid()}"
        if os.path.lexists(tmp):
            os.unlink(tmp)
        os.symlink(target, tmp)
        os.rename(tmp, self.link)
        self.target = target

    def remove(self):
        if self.target is not None and os.path.islink(self.link) \
                and os.readlink(self.link) == self.target:
            os.unlink(self.link)
        self.target = None

    def release(self):
        self.remove()
        os.unlink(self.lock_path)  # while still held: nobody else can have taken it
        os.close(self.lock_fd)


class WireLog:
    def __init__(self, path, seed):
        self.file = open(path, "w", buffering=1) if path else None
        self.t0 = time.monotonic()
        if self.file:
            self.file.write(f"# busy line wire log; seed {seed}; "
                            f"t0 = CLOCK_MONOTONIC {self.t0:.9f} s\n")

    def _us(self, t):
        return f"{(t - self.t0) * 1e6:.3f}"

    def frame(self, t, direction, data, last=None, note=None):
        if self.file:
            self.file.write(f"{self._us(t)} {direction} {hexes(data)}"
                            + (f" last={self._us(last)}" if last is not None else "")
                            + (f" note={note}" if note else "") + "\n")

    def event(self, t, text):
        if self.file:
            self.file.write(f"{self._us(t)} EV {text}\n")


class Line:
    """The relay: the master's pty, the units' ptys, and the wire between them."""

    def __init__(self, units, registration, log, rng, noise):
        self.units, self.registration, self.log, self.rng = units, registration, log, rng
        self.noise = noise  # (count, seconds) or None
        self.master = -1
        self.inotify = -1
        self.peer_open = False
        self.pty_path = None
        self.heap = []  # (time, sequence, action)
        self.sequence = 0
        self.request = b""  # bytes from the master not yet a frame
        self.exchanges = []  # requests whose units' answers are awaited
        self.commands = queue.Queue()
        self.wake_r, self.wake_w = os.pipe()
        self.stop = threading.Event()
        self.libc = ctypes.CDLL(None, use_errno=True)

    # ---- the master's pty --------------------------------------------------------
    def plug(self):
        master, slave = os.openpty()
        tty.setraw(slave)
        self.pty_path = os.ttyname(slave)
        os.close(slave)
        os.set_blocking(master, False)
        self.master, self.peer_open = master, False
        self.inotify = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.inotify >= 0 and self.libc.inotify_add_watch(
                self.inotify, self.pty_path.encode(), IN_OPEN | IN_CLOSE) < 0:
            os.close(self.inotify)
            self.inotify = -1
        self.registration.create(self.pty_path)
        self.log.event(time.monotonic(), f"plugged {self.pty_path}")
        if self.noise:
            self.at(time.monotonic() + self.noise[1], self.make_noise)

    def unplug(self):
        """The adapter pulled out: its pty hung up, its name gone, nothing pending."""
        self.registration.remove()
        for fd in (self.master, self.inotify):
            if fd >= 0:
                os.close(fd)
        self.master = self.inotify = -1
        self.peer_open = False
        self.request, self.exchanges, self.heap = b"", [], []
        for unit in self.units:
            unit.busy_until = 0.0
        self.log.event(time.monotonic(), "unplugged")

    def check_peer(self, now):
        """Whether someone has the master's port open (no hang-up on our end)."""
        p = select.poll()
        p.register(self.master, select.POLLIN)
        ready = p.poll(0)
        is_open = not (ready and ready[0][1] & (select.POLLHUP | select.POLLERR))
        if is_open != self.peer_open:
            self.peer_open = is_open
            self.log.event(now, "port opened" if is_open else "port closed")

    def send(self, data):
        """Writes to the master: True when it went out."""
        if self.master < 0:
            return False
        self.check_peer(time.monotonic())
        if not self.peer_open:
            return False
        try:
            os.write(self.master, data)
            return True
        except OSError:
            return False

    # ---- the schedule ------------------------------------------------------------
    def at(self, when, action):
        self.sequence += 1
        heapq.heappush(self.heap, (when, self.sequence, action))

    def make_noise(self):
        count, every = self.noise
        data = bytes(self.rng.randrange(256) for _ in range(count))
        now = time.monotonic()
        if self.send(data):
            self.log.frame(now, "TX", data, last=now, note="noise")
        self.at(now + every, self.make_noise)

    # ---- requests ----------------------------------------------------------------
    def take_master_bytes(self, now):
        try:
            data = os.read(self.master, 4096)
        except OSError:
            return
        self.request += data
        for size in sorted({len(self.request), 8}, reverse=True):
            frame = self.request[-size:]
            if len(self.request) >= size >= 4 and crc16(frame[:-2]) == frame[-2:]:
                if len(self.request) > size:
                    self.log.frame(now, "RX", self.request[:-size], note="noise")
                self.request = b""
                self.on_request(frame, now)
                return
        # What forms no frame goes after 3.5 characters of silence.
        rate = line_bit_rate(self.master)
        self.at(now + max(0.00175, 35.0 / rate), lambda kept=self.request: self.drop_noise(kept))

    def drop_noise(self, kept):
        if self.request and self.request == kept:
            self.log.frame(time.monotonic(), "RX", self.request, note="noise")
            self.request = b""

    def on_request(self, frame, end):
        rate = line_bit_rate(self.master)
        self.log.frame(end, "RX", frame)
        if frame[0] == 0:
            return  # broadcasts are not carried out here
        exchange = {"end": end, "rate": rate, "units": [], "answers": {}}
        for unit in self.units:
            if unit.address not in (None, frame[0]):
                continue
            if unit.busy_until > end:
                self.log.event(end, f"unit {unit.label} busy answering: did not hear it")
                continue
            own = unit.bit_rate()
            if own is None or abs(own - rate) > rate * 0.02:
                if unit.garble:
                    data = bytes(self.rng.randrange(256) for _ in range(8))
                    self.place(exchange, [(unit, data)])
                else:
                    self.log.event(end, f"unit {unit.label} at {own} bit/s did not hear it")
                continue
            unit.received = b""
            unit.busy_until = float("inf")
            exchange["units"].append(unit)
            os.write(unit.fd, frame)
        if exchange["units"]:
            self.exchanges.append(exchange)
            self.at(end + WAIT_FOR_PYMODBUS, lambda: self.finish(exchange))

    def take_unit_bytes(self, unit):
        try:
            unit.received += os.read(unit.fd, 4096)
        except OSError:
            return
        for exchange in self.exchanges:
            if unit in exchange["units"] and unit not in exchange["answers"]:
                size = answer_length(unit.received)
                if size is not None and len(unit.received) >= size:
                    exchange["answers"][unit] = unit.received[:size]
                    if len(exchange["answers"]) == len(exchange["units"]):
                        self.finish(exchange)
                return

    def finish(self, exchange):
        if exchange not in self.exchanges:
            return
        self.exchanges.remove(exchange)
        answered = [(u, exchange["answers"][u] + u.tail) for u in exchange["units"]
                    if u in exchange["answers"]]
        for unit in exchange["units"]:
            unit.busy_until = 0.0
            self.follow_address_change(unit)
        self.place(exchange, answered)

    def follow_address_change(self, unit):
        """A unit whose address register was written answers at the new address from
        now on (its echo went out at the old one)."""
        new = unit.register(1)
        if unit.address is None or new == unit.address or not 1 <= new <= 247:
            return
        if any(u is not unit and u.address == unit.address for u in self.units):
            return
        del unit.context[unit.address]
        unit.context[new] = unit.store
        unit.address, unit.label = new, str(new)

    # ---- answers on the wire -----------------------------------------------------
    def place(self, exchange, answers):
        """Puts the answers on the wire: each at its turnaround after the request; a
        later unit at the same address once the answer before it is out, or, colliding,
        a moment after that answer's start, over it."""
        rate, end = exchange["rate"], exchange["end"]
        byte_time = 10.0 / rate
        groups = []  # [[(start, data, unit)]]: answers that overlap on the wire
        line_free = end
        for unit, data in answers:
            if groups and unit.collide is not None:
                start = groups[-1][0][0] + unit.collide
                groups[-1].append((start, data, unit))
            else:
                start = max(end + unit.turnaround, line_free)
                groups.append([(start, data, unit)])
            # An answer written whole reaches the master at once; a paced one byte by byte.
            line_free = max(line_free, start + (len(data) * byte_time if unit.paced else 0))
        for group in groups:
            self.transmit(group, rate)

    def transmit(self, group, rate):
        labels = "+".join(u.label for _, _, u in group)
        paced = any(u.paced for _, _, u in group)
        if len(group) == 1:
            start, data, _ = group[0]
            timed = [(start + (i + 1) * 10.0 / rate, b) for i, b in enumerate(data)]
            note = f"unit-{labels}"
        else:
            timed = wire_and([(s, d) for s, d, _ in group], rate)
            note = f"units-{labels}-collided"
        if not paced:  # written whole, as the first of them begins
            first = min(s for s, _, _ in group)
            timed = [(first, b) for _, b in timed]
        for _, _, unit in group:  # it hears nothing until its answer is out
            unit.busy_until = timed[-1][0] if timed else 0.0
        sent = {"bytes": b"", "first": None, "closed": False}

        def deliver(chunk, last_chunk):
            now = time.monotonic()
            if sent["first"] is None:
                sent["first"] = now
            sent["bytes"] += chunk
            if not self.send(chunk):
                sent["closed"] = True
            if last_chunk:
                self.log.frame(sent["first"], "TX", sent["bytes"], last=now,
                               note=note + ("-port-closed" if sent["closed"] else ""))

        chunks = []  # bytes due at the same moment go in one write
        for when, byte in timed:
            if chunks and chunks[-1][0] == when:
                chunks[-1][1].append(byte)
            else:
                chunks.append((when, bytearray([byte])))
        for i, (when, chunk) in enumerate(chunks):
            self.at(when, lambda c=bytes(chunk), last=i == len(chunks) - 1: deliver(c, last))

    # ---- the loop ----------------------------------------------------------------
    def run(self):
        while not self.stop.is_set():
            now = time.monotonic()
            while self.heap and not self.stop.is_set() and self.heap[0][0] <= now:
                heapq.heappop(self.heap)[2]()
                now = time.monotonic()
            timeout = 1.0 if self.peer_open or self.inotify >= 0 else 0.1
            if self.heap:
                timeout = min(timeout, max(0.0, self.heap[0][0] - now))
            p = select.poll()
            p.register(self.wake_r, select.POLLIN)
            for unit in self.units:
                p.register(unit.fd, select.POLLIN)
            if self.master >= 0 and self.peer_open:
                p.register(self.master, select.POLLIN)
            elif self.inotify >= 0:
                p.register(self.inotify, select.POLLIN)
            events = p.poll(timeout * 1000.0)
            now = time.monotonic()
            if self.master >= 0 and not self.peer_open:
                if self.inotify >= 0 and any(fd == self.inotify for fd, _ in events):
                    try:
                        os.read(self.inotify, 4096)
                    except OSError:
                        pass
                self.check_peer(now)
            for fd, revents in events:
                if fd == self.wake_r:
                    os.read(self.wake_r, 64)
                    while not self.commands.empty():
                        self.commands.get()()
                elif fd == self.master and self.master >= 0:
                    if revents & select.POLLIN:
                        self.take_master_bytes(now)
                    elif revents & (select.POLLHUP | select.POLLERR):
                        self.check_peer(now)
                else:
                    for unit in self.units:
                        if unit.fd == fd:
                            self.take_unit_bytes(unit)

    def call(self, action):
        """Runs action on the relay's thread."""
        self.commands.put(action)
        os.write(self.wake_w, b"x")


def parse_unit(text):
    address, _, rest = text.partition(":")
    options = {}
    for item in filter(None, rest.split(",")):
        key, has_value, value = item.partition("=")
        options[key] = value if has_value else ("0" if key == "tail" else "")
    return number(address), options


def main():
    # pymodbus logs every refused request as an error: nobody reads them here.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    sys.setswitchinterval(0.0005)  # the relay's thread waits less for the interpreter
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--unit", action="append", default=[], type=parse_unit)
    parser.add_argument("--registers")
    parser.add_argument("--turnaround")
    parser.add_argument("--paced", action="store_true")
    parser.add_argument("--garble", action="store_true")
    parser.add_argument("--answer-as")
    parser.add_argument("--echo-value")
    parser.add_argument("--answer-raw")
    parser.add_argument("--noise")
    parser.add_argument("--seed", type=number)
    parser.add_argument("--name", default="busy-line")
    parser.add_argument("--wire-log")
    parser.add_argument("--no-console", action="store_true")
    args = parser.parse_args()

    defaults = {}
    for key in ("turnaround", "answer-as", "echo-value", "answer-raw"):
        if getattr(args, key.replace("-", "_")) is not None:
            defaults[key] = getattr(args, key.replace("-", "_"))
    for key in ("paced", "garble"):
        if getattr(args, key):
            defaults[key] = ""
    registers = [number(v) for v in args.registers.split(",")] if args.registers else None
    units = [Unit(a, o, defaults, registers) for a, o in args.unit] or \
        [Unit(None, {}, defaults, registers)]
    noise = None
    if args.noise:
        count, _, every = args.noise.partition("@")
        noise = (int(count), int(every) / 1000.0)
    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "little")
    line = Line(units, Registration(args.name), WireLog(args.wire_log, seed),
                random.Random(seed), noise)

    async def serve():
        loop = asyncio.get_running_loop()
        done = loop.create_future()

        def end():
            if not done.done():
                done.set_result(None)

        def relay():
            try:
                line.run()
            except BaseException:
                traceback.print_exc()
                loop.call_soon_threadsafe(end)  # a line that is dead ends the program

        def plug():
            if line.master >= 0:
                say("ERR plugged already")
                return
            line.plug()
            say(f"OK plugged {args.name} {line.pty_path}")

        def unplug():
            if line.master < 0:
                say("ERR unplugged already")
                return
            line.unplug()
            say("OK unplugged")

        def command(text):
            verb = text.strip()
            if verb in ("unplug", "plug"):
                line.call(unplug if verb == "unplug" else plug)
            elif verb == "quit":
                end()
            elif verb == "help":
                say("OK commands: unplug, plug, quit")
            elif verb:
                say(f"ERR unknown command '{verb}'")

        pending = [b""]

        def read_console():
            data = os.read(sys.stdin.fileno(), 1024)
            if not data:
                loop.remove_reader(sys.stdin.fileno())
                end()
                return
            pending[0] += data
            while b"\n" in pending[0]:
                text, pending[0] = pending[0].split(b"\n", 1)
                command(text.decode(errors="replace"))

        servers = []
        thread = threading.Thread(target=relay, daemon=True)
        try:
            for unit in units:
                unit.fd, served = os.openpty()
                tty.setraw(served)
                server = ModbusSerialServer(unit.context, ModbusRtuFramer,
                                            port=os.ttyname(served), baudrate=9600,
                                            response_manipulator=unit.manipulate)
                await server.start()  # the server has its port open
                os.close(served)
                servers.append(server)
            line.plug()
            thread.start()
            say(f"PORT {args.name} {line.pty_path}")
            say(f"SEED {seed}")
            for sig in (signal.SIGTERM, signal.SIGINT):
                loop.add_signal_handler(sig, end)
            loop.add_signal_handler(signal.SIGUSR1, lambda: line.call(unplug))
            loop.add_signal_handler(signal.SIGUSR2, lambda: line.call(plug))
            if not args.no_console:
                loop.add_reader(sys.stdin.fileno(), read_console)
            await done
        finally:
            # pymodbus's handlers spin if their loop ends under them: close them first.
            for server in servers:
                await server.shutdown()
            line.call(line.stop.set)
            if thread.is_alive():
                thread.join(2.0)

    try:
        asyncio.run(serve())
    finally:
        line.registration.release()


if __name__ == "__main__":
    main()
