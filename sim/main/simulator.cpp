#include "simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ornat::sim {

using namespace std::chrono_literals;

Simulator::~Simulator() {
  if (signal_fd_ >= 0) close(signal_fd_);
}

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

  const std::uint32_t first_rate = bus_.at(0).model.bit_rate();
  const bool opened = o_.listen           ? line_.Listen(*o_.listen, first_rate, error)
                      : o_.device.empty() ? line_.OpenPty(error)
                                          : line_.OpenDevice(o_.device, first_rate, error);
  if (!opened) {
    std::fprintf(stderr, "ornat-sim: %s\n", error.c_str());
    return false;
  }
  if (!line_.has_peer_events()) peer_open_ = true;
  assembler_.set_gap(FrameAssembler::GapForBitRate(line_.pty() ? 9600 : line_.BitRate()));

  if (!o_.wire_log.empty() && !log_.Open(o_.wire_log, error)) {
    std::fprintf(stderr, "ornat-sim: %s\n", error.c_str());
    return false;
  }
  if (line_.pty()) {
    if (!registration_.Create(o_.name, line_.slave_path(), error)) {
      std::fprintf(stderr, "ornat-sim: %s\n", error.c_str());
      return false;
    }
    peer_open_ = !line_.PeerHungUp();
    Say("PORT " + o_.name + " " + line_.slave_path());
  } else if (line_.tcp()) {
    Say("LISTEN " + line_.listen_url());
  } else {
    Say("DEVICE " + o_.device);
  }
  if (o_.console && isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "ornat-sim: %zu detector(s) on the line; type 'help' for commands\n",
                 bus_.size());
  }
  return true;
}

void Simulator::CheckPeer(Clock::time_point now) {
  bool open = !line_.PeerHungUp();
  if (!line_.tcp()) {
    pollfd p{line_.fd(), POLLIN, 0};
    if (poll(&p, 1, 0) < 0) return;
    // A master that opens, writes and closes at once leaves its request behind a
    // hangup: it went out on the line, so the detector hears it.
    if (p.revents & POLLIN) ReadLine(now);
    open = (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
  }
  if (open == peer_open_) return;
  peer_open_ = open;
  if (line_.port_events_fd() < 0 || line_.tcp())
    log_.Event(now, open ? "port opened" : "port closed");
  // A frame cut off by the close is noise; the next open starts afresh.
  if (!open) OnEvents(assembler_.Flush());
  if (!open && line_.tcp()) OnClientGone();
}

void Simulator::ReadPortEvents(Clock::time_point now) {
  line_.ReadPortEvents(
      [&](bool opened) { log_.Event(now, opened ? "port opened" : "port closed"); });
}

int Simulator::Run() {
  const bool peered = line_.has_peer_events();
  while (!quit_) {
    ServiceTransmissions(Clock::now());
    ServiceGatewayWrites(Clock::now());
    ServiceGatewayQueue(Clock::now());
    ServiceNoise(Clock::now());
    // The pty's inotify, or the listening socket while no client is connected.
    const int events_fd = line_.port_events_fd();
    if (quit_) break;

    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> wake;
    auto consider = [&](Clock::time_point t) {
      if (!wake || t < *wake) wake = t;
    };
    for (const Transmission& t : tx_) consider(t.origin + t.schedule[t.next].at);
    if (next_noise_) consider(*next_noise_);
    for (const GatewayWrite& w : gateway_out_) consider(w.at);
    if (!gateway_queue_.empty()) consider(deaf_until_);
    if (const auto d = assembler_.Deadline()) consider(t0_ + *d);
    // While hung up the line is left out of the poll (it would report POLLHUP at once,
    // again and again); inotify wakes us on the next open, and a slow recheck covers
    // a pty whose opens inotify cannot see.
    if (peered && !peer_open_) consider(now + (events_fd >= 0 ? 1000ms : 100ms));

    pollfd fds[4];
    nfds_t n = 0;
    const nfds_t sig_i = n;
    fds[n++] = {signal_fd_, POLLIN, 0};
    nfds_t stdin_i = ~nfds_t{0};
    if (console_.open()) {
      stdin_i = n;
      fds[n++] = {STDIN_FILENO, POLLIN, 0};
    }
    nfds_t line_i = ~nfds_t{0};
    if (!peered || peer_open_) {
      line_i = n;
      fds[n++] = {line_.fd(), POLLIN, 0};
    }
    nfds_t ino_i = ~nfds_t{0};
    if (events_fd >= 0) {
      ino_i = n;
      fds[n++] = {events_fd, POLLIN, 0};
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
      if (peered && (!alive || (fds[line_i].revents & (POLLHUP | POLLERR)))) CheckPeer(after);
    }
    if (ino_i != ~nfds_t{0} && fds[ino_i].revents) {
      ReadPortEvents(after);
      if (peered) CheckPeer(after);
    }
    if (peered && !peer_open_) CheckPeer(after);
    OnEvents(assembler_.Poll(Since0(after)));
    if (stdin_i != ~nfds_t{0} && fds[stdin_i].revents) console_.ReadAndRun(quit_);
  }
  while (!tx_.empty()) FinishTransmission(0, "cut-off");
  return exit_code_;
}

bool Simulator::ReadLine(Clock::time_point now) {
  std::uint8_t buf[512];
  for (;;) {
    // The gateway may have dropped its client over what it just read.
    if (line_.fd() < 0) return false;
    const ssize_t got = read(line_.fd(), buf, sizeof buf);
    if (got > 0) {
      OnBytes(std::span(buf, static_cast<std::size_t>(got)), now);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return true;
    // 0 or EIO: on a pty the program at the slave end has closed it; a TCP client has
    // left (or its connection broke); a real device has gone away.
    if (line_.tcp()) {
      line_.DropClient();
    } else if (!line_.pty()) {
      std::fprintf(stderr, "ornat-sim: %s: %s\n", o_.device.c_str(),
                   got == 0 ? "end of file" : std::strerror(errno));
      quit_ = true;
      exit_code_ = 1;
    }
    return false;
  }
}

void Simulator::OnBytes(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  if (gateway()) {
    OnGatewayBytes(bytes, now);
    return;
  }
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
    HandleRequest(ev.bytes, at, std::nullopt);
  }
}

void Simulator::HandleRequest(const Bytes& frame, Clock::time_point at,
                              std::optional<GatewayRequest> gateway) {
  // The master's speed is read when its request arrives: it may have changed it
  // since the last one.
  const std::uint32_t rate = line_.BitRate();
  assembler_.set_gap(FrameAssembler::GapForBitRate(rate));
  Reply reply = bus_.HandleFrame(frame, rate, BusyDetectors());
  log_.Rx(at, frame, reply.silent() ? reply.note : std::string{});
  const auto wait = std::chrono::milliseconds(o_.gateway_timeout_ms);
  if (reply.silent()) {
    ApplyCommits(reply, at);
    if (gateway) GatewayGivesUp(*gateway, at + wait);
    return;
  }
  Transmission t;
  bool collided = false;
  t.schedule = ScheduleOnWire(reply, rate, &collided);
  if (collided) reply.note += reply.note.empty() ? "collision" : ",collision";
  t.origin = at;
  // Through an adapter with a latency timer the bytes reach the master in bursts, on
  // the adapter's own grid (counted from the simulator's start).
  const auto since0 = Since0(at);
  for (TimedByte& b : t.schedule)
    b.at = AdapterDelivery(since0 + b.at, reply.adapter_latency) - since0;
  t.note = reply.note;
  t.reply = std::move(reply);
  if (t.schedule.empty()) {
    ApplyCommits(t.reply, at);
    if (gateway) GatewayGivesUp(*gateway, at + wait);
    return;
  }
  // The gateway waits so long for the first byte, then answers that nothing came.
  if (gateway && t.schedule.front().at > wait) {
    t.gave_up = true;
    GatewayGivesUp(*gateway, at + wait);
  }
  t.gateway = std::move(gateway);
  tx_.push_back(std::move(t));
}

}  // namespace ornat::sim
