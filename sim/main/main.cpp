// ornat-sim: simulated ОРНАТ(-2)-Zev detectors behind a pseudo-terminal (or a real serial
// port), for the service tool and its tests. See docs/simulator.md and --help.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "line_speed.h"
#include "model/bus.h"
#include "model/console.h"
#include "model/frame_assembler.h"
#include "port_registry.h"
#include "wire_log.h"

namespace ornat::sim {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char kUsage[] = R"(Usage: ornat-sim [OPTIONS]

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

Standard output: first the line "PORT NAME SLAVE-PATH" (or "DEVICE PATH"), then the
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

struct Options {
  std::string name = "ornat-sim";
  std::string device;
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

// Parses the command line; returns 0 to go on, kHelpShown after --help, else the exit
// code of a usage error.
int ParseArgs(int argc, char** argv, Options& o) {
  std::vector<std::string> args(argv + 1, argv + argc);
  auto add_global = [&](const std::string& option) {
    o.global_options += (o.global_options.empty() ? "" : ",") + option;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inline_value;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    auto value = [&]() -> std::optional<std::string> {
      if (inline_value) return inline_value;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    auto missing = [&] {
      std::fprintf(stderr, "ornat-sim: %s needs a value (see --help)\n", arg.c_str());
      return 2;
    };
    long long n = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kHelpShown;
    } else if (arg == "--garble") {
      o.garble = true;
    } else if (arg == "--no-console") {
      o.console = false;
    } else if (arg == "--silent") {
      add_global("silent");
    } else if (arg == "--echo") {
      add_global("echo");
    } else if (arg == "--unpaced") {
      add_global("unpaced");
    } else {
      // One option a line.
      // clang-format off
      static const std::pair<const char*, const char*> kGlobalWithValue[] = {
          {"--bad-crc", "crc"},
          {"--stray", "stray"},
          {"--pause", "pause"},
          {"--exception", "exception"},
          {"--identity", "id"},
          {"--query-regs", "regs"},
          {"--delay", "delay"},
          {"--answer-from", "answer-from"},
          {"--trailing", "trailing"},
          {"--adapter-latency", "latency"},
      };
      // clang-format on
      bool handled = false;
      for (const auto& [flag, verb] : kGlobalWithValue) {
        if (arg != flag) continue;
        const auto v = value();
        if (!v) return missing();
        add_global(std::string(verb) + "=" + *v);
        handled = true;
      }
      if (handled) continue;
      static const char* const kWithValue[] = {
          "--name", "--device", "--detector", "--turnaround", "--wire-log", "--seed", "--noise"};
      std::optional<std::string> v;
      for (const char* flag : kWithValue) {
        if (arg != flag) continue;
        v = value();
        if (!v) return missing();
      }
      if (!v) {
        std::fprintf(stderr, "ornat-sim: unknown option '%s' (see --help)\n", args[i].c_str());
        return 2;
      }
      if (arg == "--name") {
        o.name = *v;
        if (!IsValidPortName(o.name)) {
          std::fprintf(stderr, "ornat-sim: invalid port name '%s'\n", o.name.c_str());
          return 2;
        }
      } else if (arg == "--device") {
        o.device = *v;
      } else if (arg == "--detector") {
        o.detectors.push_back(*v);
      } else if (arg == "--turnaround") {
        if (!ParseNumber(*v, 0, 60000, n)) {
          std::fprintf(stderr, "ornat-sim: --turnaround takes 0..60000 ms\n");
          return 2;
        }
        o.turnaround_ms = n;
      } else if (arg == "--wire-log") {
        o.wire_log = *v;
      } else if (arg == "--seed") {
        if (!ParseNumber(*v, 0, 0xFFFFFFFF, n)) {
          std::fprintf(stderr, "ornat-sim: --seed takes a number\n");
          return 2;
        }
        o.seed = static_cast<std::uint32_t>(n);
      } else if (arg == "--noise") {
        const auto at = v->find('@');
        long long period = 0;
        if (at == std::string::npos || !ParseNumber(v->substr(0, at), 1, 256, n) ||
            !ParseNumber(v->substr(at + 1), 1, 60000, period)) {
          std::fprintf(stderr, "ornat-sim: --noise takes N@MS: 1..256 bytes every 1..60000 ms\n");
          return 2;
        }
        o.noise_bytes = static_cast<std::size_t>(n);
        o.noise_period_ms = period;
      }
    }
  }
  if (o.detectors.empty()) o.detectors.push_back(std::to_string(kFactoryAddress));
  return 0;
}

void Say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

class Simulator {
 public:
  Simulator(const Options& o, Bus& bus)
      : o_(o), bus_(bus), console_(bus), t0_(Clock::now()), log_(t0_) {}
  ~Simulator() {
    for (int fd : {line_fd_, inotify_fd_, signal_fd_}) {
      if (fd >= 0) close(fd);
    }
  }

  // Opens everything; returns false (message printed) on failure.
  bool Start();
  // Runs until quit, a signal, end of stdin or a lost device; returns the exit code.
  int Run();

 private:
  // One request's answer on its way out: every detector that answers it, on one wire.
  struct Transmission {
    Reply reply;
    std::vector<TimedByte> schedule;
    Clock::time_point origin;  // end of the request
    std::size_t next = 0;
    Bytes sent;
    std::optional<Clock::time_point> first_out;
    Clock::time_point last_out;
    std::string note;
  };

  std::chrono::nanoseconds Since0(Clock::time_point t) const { return t - t0_; }
  std::uint32_t LineRate() const;
  bool PeerHungUp() const;
  // Reads what the line holds; false when it reports a hangup (pty) or is gone.
  bool ReadLine(Clock::time_point now);
  void OnBytes(std::span<const std::uint8_t> bytes, Clock::time_point now);
  void OnEvents(const std::vector<FrameAssembler::Event>& events);
  void ServiceTransmissions(Clock::time_point now);
  // Writes bytes to the master; false when the rest cannot be written (`why` says why).
  bool WriteLine(const Bytes& bytes, std::size_t& done, std::string& why);
  void FinishTransmission(std::size_t index, const std::string& extra_note);
  // True while an answer's bytes are on the wire (or the line settles after one): the
  // half-duplex line cannot carry a request then.
  bool AnswerOnTheWire(Clock::time_point at) const;
  std::vector<bool> BusyDetectors() const;
  void ServiceNoise(Clock::time_point now);
  void ApplyCommits(const Reply& reply, Clock::time_point at);
  void ReadConsole();
  void RunCommand(const std::string& line);
  void CheckPeer(Clock::time_point now);
  void ReadPortEvents(Clock::time_point now);

  const Options& o_;
  Bus& bus_;
  Console console_;
  Clock::time_point t0_;
  WireLog log_;
  PortRegistration registration_;
  FrameAssembler assembler_;

  int line_fd_ = -1;
  int inotify_fd_ = -1;
  int signal_fd_ = -1;
  bool pty_ = true;
  bool peer_open_ = false;
  std::uint32_t device_rate_ = 9600;
  std::string console_buffer_;
  bool console_open_ = true;
  // Answers under way, oldest first: one detector may still wait out its delay while
  // another, asked later, answers.
  std::vector<Transmission> tx_;
  Clock::time_point deaf_until_{};
  std::optional<Clock::time_point> next_noise_;
  bool quit_ = false;
  int exit_code_ = 0;
};

bool Simulator::Start() {
  std::string error;
  // Signals arrive as readable data on a descriptor, so the one poll below sees them.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  signal_fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  signal(SIGPIPE, SIG_IGN);
  if (signal_fd_ < 0) {
    std::fprintf(stderr, "ornat-sim: signalfd: %s\n", std::strerror(errno));
    return false;
  }

  std::string slave_path;
  if (o_.device.empty()) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
      std::fprintf(stderr, "ornat-sim: openpty: %s\n", std::strerror(errno));
      return false;
    }
    char name[256];
    if (ptsname_r(master, name, sizeof name) != 0) {
      std::fprintf(stderr, "ornat-sim: ptsname: %s\n", std::strerror(errno));
      close(master);
      close(slave);
      return false;
    }
    slave_path = name;
    // Raw 9600 bit/s until the master sets its own line. Our slave descriptor is
    // closed at once: held open, it would keep a master's TIOCEXCL in force across
    // the master's own closes and lock it out of its next open.
    SetRawLine(slave, 9600);
    close(slave);
    line_fd_ = master;
    fcntl(line_fd_, F_SETFL, fcntl(line_fd_, F_GETFL) | O_NONBLOCK);
    fcntl(line_fd_, F_SETFD, FD_CLOEXEC);
    // The pty hangs up whenever no program has its slave open; the opens and closes of
    // the slave device wake us instead of a polling loop.
    inotify_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_fd_ >= 0 && inotify_add_watch(inotify_fd_, name, IN_OPEN | IN_CLOSE) < 0) {
      close(inotify_fd_);
      inotify_fd_ = -1;
    }
  } else {
    pty_ = false;
    line_fd_ = open(o_.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line_fd_ < 0) {
      std::fprintf(stderr, "ornat-sim: cannot open %s: %s\n", o_.device.c_str(),
                   std::strerror(errno));
      return false;
    }
    device_rate_ = bus_.at(0).model.bit_rate();
    if (!SetRawLine(line_fd_, device_rate_)) {
      std::fprintf(stderr, "ornat-sim: cannot set up %s: %s\n", o_.device.c_str(),
                   std::strerror(errno));
      return false;
    }
    peer_open_ = true;
  }
  assembler_.set_gap(FrameAssembler::GapForBitRate(pty_ ? 9600 : device_rate_));

  if (!o_.wire_log.empty() && !log_.Open(o_.wire_log, error)) {
    std::fprintf(stderr, "ornat-sim: %s\n", error.c_str());
    return false;
  }
  if (pty_) {
    if (!registration_.Create(o_.name, slave_path, error)) {
      std::fprintf(stderr, "ornat-sim: %s\n", error.c_str());
      return false;
    }
    peer_open_ = !PeerHungUp();
    Say("PORT " + o_.name + " " + slave_path);
  } else {
    Say("DEVICE " + o_.device);
  }
  console_open_ = o_.console;
  if (o_.console && isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "ornat-sim: %zu detector(s) on the line; type 'help' for commands\n",
                 bus_.size());
  }
  return true;
}

std::uint32_t Simulator::LineRate() const {
  if (!pty_) return device_rate_;
  // What the master set on its end; a pty that was never set up, or B0, counts as the
  // detector's factory speed.
  const std::uint32_t rate = ReadLineBitRate(line_fd_);
  return rate == 0 ? 9600 : rate;
}

bool Simulator::PeerHungUp() const {
  pollfd p{line_fd_, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return false;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void Simulator::CheckPeer(Clock::time_point now) {
  pollfd p{line_fd_, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return;
  // A master that opens, writes and closes at once leaves its request behind a hangup:
  // it went out on the line, so the detector hears it.
  if (p.revents & POLLIN) ReadLine(now);
  const bool open = (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
  if (open == peer_open_) return;
  peer_open_ = open;
  if (inotify_fd_ < 0) log_.Event(now, open ? "port opened" : "port closed");
  // A frame cut off by the close is noise; the next open starts afresh.
  if (!open) OnEvents(assembler_.Flush());
}

void Simulator::ReadPortEvents(Clock::time_point now) {
  // Every open and close of the slave device, by whichever program, in order.
  alignas(inotify_event) char buf[4096];
  for (;;) {
    const ssize_t got = read(inotify_fd_, buf, sizeof buf);
    if (got <= 0) return;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event ev;
      std::memcpy(&ev, buf + at, sizeof ev);
      if (ev.mask & IN_OPEN) log_.Event(now, "port opened");
      if (ev.mask & IN_CLOSE) log_.Event(now, "port closed");
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev.len);
    }
  }
}

int Simulator::Run() {
  while (!quit_) {
    ServiceTransmissions(Clock::now());
    ServiceNoise(Clock::now());
    if (quit_) break;

    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> wake;
    auto consider = [&](Clock::time_point t) {
      if (!wake || t < *wake) wake = t;
    };
    for (const Transmission& t : tx_) consider(t.origin + t.schedule[t.next].at);
    if (next_noise_) consider(*next_noise_);
    if (const auto d = assembler_.Deadline()) consider(t0_ + *d);
    // While hung up the line is left out of the poll (it would report POLLHUP at once,
    // again and again); inotify wakes us on the next open, and a slow recheck covers
    // a pty whose opens inotify cannot see.
    if (pty_ && !peer_open_) consider(now + (inotify_fd_ >= 0 ? 1000ms : 100ms));

    pollfd fds[4];
    nfds_t n = 0;
    const nfds_t sig_i = n;
    fds[n++] = {signal_fd_, POLLIN, 0};
    nfds_t stdin_i = ~nfds_t{0};
    if (console_open_) {
      stdin_i = n;
      fds[n++] = {STDIN_FILENO, POLLIN, 0};
    }
    nfds_t line_i = ~nfds_t{0};
    if (!pty_ || peer_open_) {
      line_i = n;
      fds[n++] = {line_fd_, POLLIN, 0};
    }
    nfds_t ino_i = ~nfds_t{0};
    if (inotify_fd_ >= 0) {
      ino_i = n;
      fds[n++] = {inotify_fd_, POLLIN, 0};
    }
    timespec ts{};
    if (wake) {
      const auto left = std::max(std::chrono::nanoseconds{0}, *wake - now);
      ts.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
      ts.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
    }
    const int r = ppoll(fds, n, wake ? &ts : nullptr, nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "ornat-sim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    const Clock::time_point after = Clock::now();

    if (fds[sig_i].revents) {
      signalfd_siginfo info;
      while (read(signal_fd_, &info, sizeof info) == sizeof info) {
      }
      quit_ = true;
      break;
    }
    if (line_i != ~nfds_t{0} && fds[line_i].revents) {
      const bool alive = ReadLine(after);
      if (pty_ && (!alive || (fds[line_i].revents & (POLLHUP | POLLERR)))) CheckPeer(after);
    }
    if (ino_i != ~nfds_t{0} && fds[ino_i].revents) {
      ReadPortEvents(after);
      if (pty_) CheckPeer(after);
    }
    if (pty_ && !peer_open_) CheckPeer(after);
    OnEvents(assembler_.Poll(Since0(after)));
    if (stdin_i != ~nfds_t{0} && fds[stdin_i].revents) ReadConsole();
  }
  while (!tx_.empty()) FinishTransmission(0, "cut-off");
  return exit_code_;
}

bool Simulator::ReadLine(Clock::time_point now) {
  std::uint8_t buf[512];
  for (;;) {
    const ssize_t got = read(line_fd_, buf, sizeof buf);
    if (got > 0) {
      OnBytes(std::span(buf, static_cast<std::size_t>(got)), now);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return true;
    // 0 or EIO: on a pty the program at the slave end has closed it; a real device
    // has gone away.
    if (!pty_) {
      std::fprintf(stderr, "ornat-sim: %s: %s\n", o_.device.c_str(),
                   got == 0 ? "end of file" : std::strerror(errno));
      quit_ = true;
      exit_code_ = 1;
    }
    return false;
  }
}

void Simulator::OnBytes(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  // The line is half-duplex: what arrives while we send (or an adapter's echo of our
  // own answer right after) cannot be a request meant for us.
  if (AnswerOnTheWire(now)) {
    log_.Rx(now, bytes, "during-answer");
    return;
  }
  OnEvents(assembler_.Feed(bytes, Since0(now)));
}

void Simulator::OnEvents(const std::vector<FrameAssembler::Event>& events) {
  for (const FrameAssembler::Event& ev : events) {
    const Clock::time_point at = t0_ + ev.at;
    if (ev.kind == FrameAssembler::Event::Kind::kNoise) {
      log_.Rx(at, ev.bytes, "noise");
      continue;
    }
    if (AnswerOnTheWire(at)) {
      log_.Rx(at, ev.bytes, "during-answer");
      continue;
    }
    // The master's speed is read when its request arrives: it may have changed it
    // since the last one.
    const std::uint32_t rate = LineRate();
    assembler_.set_gap(FrameAssembler::GapForBitRate(rate));
    Reply reply = bus_.HandleFrame(ev.bytes, rate, BusyDetectors());
    log_.Rx(at, ev.bytes, reply.silent() ? reply.note : std::string{});
    if (reply.silent()) {
      ApplyCommits(reply, at);
      continue;
    }
    Transmission t;
    bool collided = false;
    t.schedule = ScheduleOnWire(reply, rate, &collided);
    if (collided) reply.note += reply.note.empty() ? "collision" : ",collision";
    t.origin = at;
    // Through an adapter with a latency timer the bytes reach the master in bursts, on
    // the adapter's own grid (counted from the simulator's start).
    for (TimedByte& b : t.schedule)
      b.at = AdapterDelivery(ev.at + b.at, reply.adapter_latency) - ev.at;
    t.note = reply.note;
    t.reply = std::move(reply);
    if (t.schedule.empty()) {
      ApplyCommits(t.reply, at);
      continue;
    }
    tx_.push_back(std::move(t));
  }
}

bool Simulator::AnswerOnTheWire(Clock::time_point at) const {
  if (at < deaf_until_) return true;
  const std::uint32_t rate = LineRate();
  for (const Transmission& t : tx_) {
    // From the start of its first byte (one byte before its stop bit) to its last.
    const Clock::time_point first = t.origin + t.schedule.front().at - ByteDuration(rate);
    if (at >= first || t.next > 0) return true;
  }
  return false;
}

std::vector<bool> Simulator::BusyDetectors() const {
  std::vector<bool> busy(bus_.size(), false);
  for (const Transmission& t : tx_)
    for (std::size_t i : t.reply.Answering())
      if (i < busy.size()) busy[i] = true;
  return busy;
}

void Simulator::ServiceNoise(Clock::time_point now) {
  if (o_.noise_bytes == 0) return;
  const auto period = std::chrono::milliseconds(o_.noise_period_ms);
  if (!next_noise_) next_noise_ = t0_ + period;
  if (now < *next_noise_) return;
  while (*next_noise_ <= now) *next_noise_ += period;
  // Noise on a line nobody listens to is lost, as the answers are.
  if (pty_ && PeerHungUp()) return;
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes noise(o_.noise_bytes);
  for (auto& b : noise) b = static_cast<std::uint8_t>(byte(bus_.rng()));
  std::size_t done = 0;
  std::string why;
  WriteLine(noise, done, why);
  if (done > 0)
    log_.Tx(now, now, std::span(noise.data(), done), "noise" + (why.empty() ? "" : "," + why));
}

void Simulator::ServiceTransmissions(Clock::time_point now) {
  // Every due byte of every answer, in the order they reach the master.
  struct Due {
    Clock::time_point at;
    std::size_t tx;
  };
  std::vector<Due> due;
  for (std::size_t i = 0; i < tx_.size(); ++i) {
    const Transmission& t = tx_[i];
    for (std::size_t k = t.next; k < t.schedule.size() && t.origin + t.schedule[k].at <= now; ++k)
      due.push_back({t.origin + t.schedule[k].at, i});
  }
  if (due.empty()) return;
  std::stable_sort(due.begin(), due.end(), [](const Due& a, const Due& b) { return a.at < b.at; });
  // Bytes written while nobody has the port open would wait in the pty and greet the
  // next program that opens it; on a real line they would simply be lost.
  if (pty_ && PeerHungUp()) {
    CheckPeer(now);
    while (!tx_.empty()) FinishTransmission(0, "port-closed");
    return;
  }
  Bytes bytes;
  for (const Due& d : due) {
    Transmission& t = tx_[d.tx];
    bytes.push_back(t.schedule[t.next++].byte);
  }
  std::size_t done = 0;
  std::string why;
  const bool whole = WriteLine(bytes, done, why);
  const Clock::time_point out = Clock::now();
  // What was written, back to the answers it belongs to.
  std::vector<std::size_t> sent_of(tx_.size(), 0);
  for (std::size_t k = 0; k < done; ++k) ++sent_of[due[k].tx];
  std::vector<std::size_t> lost_of(tx_.size(), 0);
  for (std::size_t k = done; k < due.size(); ++k) ++lost_of[due[k].tx];
  for (std::size_t i = 0; i < tx_.size(); ++i) {
    Transmission& t = tx_[i];
    if (sent_of[i] > 0) {
      const std::size_t first = t.next - sent_of[i] - lost_of[i];
      if (!t.first_out) t.first_out = out;
      t.last_out = out;
      for (std::size_t k = first; k < first + sent_of[i]; ++k) t.sent.push_back(t.schedule[k].byte);
    }
    if (lost_of[i] > 0 && why == "overflow") t.note = "overflow";
  }
  if (!whole && why != "overflow") {
    while (!tx_.empty()) FinishTransmission(0, why);
    return;
  }
  for (std::size_t i = tx_.size(); i-- > 0;)
    if (tx_[i].next == tx_[i].schedule.size()) FinishTransmission(i, {});
}

bool Simulator::WriteLine(const Bytes& bytes, std::size_t& done, std::string& why) {
  while (done < bytes.size()) {
    const ssize_t w = write(line_fd_, bytes.data() + done, bytes.size() - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    // The master does not read and its input queue is full: the rest is lost.
    why = w < 0 && errno == EAGAIN ? "overflow" : "write-failed";
    return false;
  }
  return true;
}

void Simulator::FinishTransmission(std::size_t index, const std::string& extra_note) {
  Transmission t = std::move(tx_[index]);
  tx_.erase(tx_.begin() + static_cast<std::ptrdiff_t>(index));
  std::string note = t.note;
  if (!extra_note.empty()) note += (note.empty() ? "" : ",") + extra_note;
  if (!t.sent.empty()) log_.Tx(*t.first_out, t.last_out, t.sent, note);
  const Clock::time_point end = t.first_out ? t.last_out : Clock::now();
  deaf_until_ = std::max(deaf_until_, end + assembler_.gap());
  // The detector finished its answer whether or not anyone was listening: the new
  // address and speed apply from here on.
  ApplyCommits(t.reply, end);
}

void Simulator::ApplyCommits(const Reply& reply, Clock::time_point at) {
  if (reply.commits.empty()) return;
  struct Before {
    std::size_t i;
    unsigned address;
    unsigned speed;
  };
  std::vector<Before> before;
  for (const Commit& c : reply.commits) {
    const DetectorModel& m = bus_.at(c.detector).model;
    before.push_back({c.detector, m.address(), m.speed_code()});
  }
  bus_.CommitAfterAnswer(reply);
  for (const Before& b : before) {
    const DetectorModel& m = bus_.at(b.i).model;
    // Appended, not "#" + std::to_string(...): GCC 12 at -O3 takes that insert at the
    // front for an overlapping copy (-Wrestrict), a false alarm.
    std::string who = "#";
    who += std::to_string(b.i);
    if (m.address() != b.address) {
      const std::string text = who + " address " + std::to_string(b.address) + " -> " +
                               std::to_string(unsigned{m.address()});
      Say("EVENT " + text);
      log_.Event(at, text);
    }
    if (m.speed_code() != b.speed) {
      const std::string text =
          who + " speed " + std::to_string(b.speed) + " -> " + std::to_string(m.speed_code());
      Say("EVENT " + text);
      log_.Event(at, text);
      if (!pty_ && b.i == 0 && SetRawLine(line_fd_, m.bit_rate())) device_rate_ = m.bit_rate();
    }
  }
}

void Simulator::ReadConsole() {
  char buf[4096];
  const ssize_t got = read(STDIN_FILENO, buf, sizeof buf);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got <= 0) {
    // End of input ends the program, as the console's user has left.
    if (!console_buffer_.empty()) RunCommand(console_buffer_);
    console_buffer_.clear();
    console_open_ = false;
    quit_ = true;
    return;
  }
  console_buffer_.append(buf, static_cast<std::size_t>(got));
  std::size_t nl;
  while (!quit_ && (nl = console_buffer_.find('\n')) != std::string::npos) {
    const std::string line = console_buffer_.substr(0, nl);
    console_buffer_.erase(0, nl + 1);
    RunCommand(line);
  }
  if (console_buffer_.size() > 4096) {
    Say("ERR line too long");
    console_buffer_.clear();
  }
}

void Simulator::RunCommand(const std::string& line) {
  const Console::Result result = console_.Execute(line);
  for (const std::string& l : result.lines) Say(l);
  if (result.quit) quit_ = true;
}

}  // namespace
}  // namespace ornat::sim

int main(int argc, char** argv) {
  using namespace ornat::sim;
  Options options;
  if (const int code = ParseArgs(argc, argv, options); code != 0)
    return code == kHelpShown ? 0 : code;

  Bus bus(
      BusOptions{std::chrono::milliseconds(options.turnaround_ms), options.garble, options.seed});
  for (const std::string& definition : options.detectors) {
    // Every detector gets the global fault options first, then its own.
    std::string full = definition;
    if (!options.global_options.empty()) {
      const auto colon = definition.find(':');
      full = colon == std::string::npos
                 ? definition + ":" + options.global_options
                 : definition.substr(0, colon) + ":" + options.global_options + "," +
                       definition.substr(colon + 1);
    }
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
