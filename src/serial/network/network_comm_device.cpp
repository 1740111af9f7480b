#include "serial/network/network_comm_device.h"

#include <algorithm>
#include <deque>
#include <thread>
#include <vector>

#include "serial/network/com_port_control.h"
#include "serial/network/mbap.h"
#include "serial/network/net_connect.h"
#include "serial/network/port_url.h"
#include "serial/platform/read_plan.h"
#include "text/hex.h"

namespace ornat {

namespace {

constexpr NetClock::time_point kNever = NetClock::time_point::max();

// A connection to one line: its socket, the thread that reads it, and the state of
// the protocol spoken on it (touched under the device's lock only).
struct Connection {
  std::string name;  // FormatPortUrl of the line
  NetScheme scheme = NetScheme::kTcp;
  NetSocket socket = kNoSocket;
  std::thread reader;
  int gone_error = 0;  // the server dropped it (or its bytes made no sense)
  ComPortClient telnet;
  MbapReader mbap;
  bool has_line = false;  // line settings acknowledged on this connection
  LineSettings line;
  std::vector<ComPortEvent> events;  // the server's answers to settings, not yet taken
};

std::uint8_t ParityCode(std::uint8_t parity) {
  static constexpr std::uint8_t kCodes[] = {rfc2217::kParityNone, rfc2217::kParityOdd,
                                            rfc2217::kParityEven, rfc2217::kParityMark,
                                            rfc2217::kParitySpace};
  return parity < std::size(kCodes) ? kCodes[parity] : 0;
}

std::uint8_t StopCode(std::uint8_t stop_bits) {
  static constexpr std::uint8_t kCodes[] = {rfc2217::kStopOne, rfc2217::kStopOneAndHalf,
                                            rfc2217::kStopTwo};
  return stop_bits < std::size(kCodes) ? kCodes[stop_bits] : 0;
}

}  // namespace

struct NetworkCommDevice::Impl {
  explicit Impl(const NetSyscalls& s) : sys(s) {}

  const NetSyscalls& sys;
  mutable std::mutex mu;  // guards everything below
  std::condition_variable cv;
  std::mutex send_mu;  // one send at a time: a command never splits a data write
  std::unique_ptr<Connection> conn;
  bool open = false;
  bool parked = false;  // closed with the connection kept: the keeper's to close
  bool quit = false;
  NetClock::time_point closed_at{};
  std::string problem;
  std::uint8_t gateway_code = 0;
  // modbus-tcp: the last request's MBAP frame and its answer's, for the journal.
  CommDevice::NetworkFrames tcp_frames;
  CommTimeouts timeouts;
  std::uint32_t event_mask = 0;
  std::deque<std::uint8_t> rx;
  std::uint64_t received = 0, reported = 0;  // bytes queued in all, and at the last EV_RXCHAR
  std::uint64_t rx_aborts = 0;               // purges with PURGE_RXABORT
  bool tx_pending = false;                   // written since the last EV_TXEMPTY
  std::uint16_t transaction = 0;             // modbus-tcp: the last request's
  std::uint8_t unit = 0;
  bool awaiting_answer = false;
  std::thread keeper;  // closes a kept connection after kIdleClose

  // --- with mu held ---
  void Queue(const std::uint8_t* data, std::size_t n) {
    rx.insert(rx.end(), data, data + n);
    received += n;
  }
  void Gone(Connection& c, int error, std::string why) {
    if (c.gone_error != 0) return;
    c.gone_error = error;
    // A connection being let go (a new line, the idle close) is no problem of the port's.
    if (problem.empty() && conn.get() == &c) problem = std::move(why);
    cv.notify_all();
  }
  // The error a call on the open port meets, or 0.
  int Failure() const {
    if (!open || !conn) return sys.errors.not_open;
    return conn->gone_error;
  }

  // What the reader does with the server's bytes; the bytes to send back (Telnet's
  // answers) go to `answer`.
  void Take(Connection& c, const std::uint8_t* bytes, std::size_t n,
            std::vector<std::uint8_t>& answer) {
    switch (c.scheme) {
      case NetScheme::kTcp:
        Queue(bytes, n);
        break;
      case NetScheme::kRfc2217: {
        ComPortInput in;
        c.telnet.Receive(bytes, n, in);
        Queue(in.data.data(), in.data.size());
        answer = std::move(in.answer);
        for (const ComPortEvent& e : in.events)
          if (e.kind != ComPortEvent::Kind::kLineState && e.kind != ComPortEvent::Kind::kModemState)
            c.events.push_back(e);
        break;
      }
      case NetScheme::kModbusTcp: {
        std::vector<MbapFrame> frames;
        if (!c.mbap.Feed(bytes, n, frames)) Gone(c, sys.errors.protocol, c.mbap.error());
        for (const MbapFrame& f : frames) {
          if (!awaiting_answer) continue;  // an answer nobody waits for any more
          const GatewayAnswer a = DecodeMbapAnswer(f, transaction, unit);
          if (a.kind != GatewayAnswer::Kind::kWrongTransaction) tcp_frames.received = MbapBytes(f);
          if (a.kind == GatewayAnswer::Kind::kAnswer) {
            Queue(a.rtu.data(), a.rtu.size());
            awaiting_answer = false;
          } else if (a.kind == GatewayAnswer::Kind::kNoAnswer) {
            gateway_code = a.gateway_code;
            problem = "the gateway answered 0x" + text::ByteToHex(a.gateway_code) +
                      ": the detector did not answer";
            awaiting_answer = false;
          }
          // Another transaction's answer (one that came after its time) is dropped.
        }
        break;
      }
    }
    cv.notify_all();
  }

  // --- without mu ---
  void ReaderLoop(Connection* c) {
    std::uint8_t buffer[4096];
    for (;;) {
      int error = 0;
      const long n = sys.recv(c->socket, buffer, sizeof buffer, error);
      std::vector<std::uint8_t> answer;
      {
        std::lock_guard<std::mutex> lock(mu);
        if (n <= 0) {
          Gone(*c, n == 0 ? sys.errors.reset : error, "the server closed the connection");
          return;
        }
        Take(*c, buffer, static_cast<std::size_t>(n), answer);
        if (c->gone_error != 0) return;
      }
      if (!answer.empty()) SendAll(*c, answer.data(), answer.size());
    }
  }

  int SendAll(Connection& c, const std::uint8_t* data, std::size_t n) {
    std::lock_guard<std::mutex> lock(send_mu);
    while (n > 0) {
      int error = 0;
      const long sent = sys.send(c.socket, data, n, error);
      if (sent <= 0) {
        std::lock_guard<std::mutex> state(mu);
        Gone(c, error != 0 ? error : sys.errors.reset, "the connection failed while sending");
        return c.gone_error;
      }
      data += sent;
      n -= static_cast<std::size_t>(sent);
    }
    return 0;
  }

  static void Drop(std::unique_ptr<Connection> c, const NetSyscalls& sys) {
    if (!c) return;
    sys.shutdown(c->socket);
    if (c->reader.joinable()) c->reader.join();
    sys.close(c->socket);
  }

  void KeeperLoop() {
    std::unique_lock<std::mutex> lock(mu);
    while (!quit) {
      if (conn && parked) {
        const NetClock::time_point due = closed_at + kIdleClose;
        if (sys.now() >= due || conn->gone_error != 0) {
          std::unique_ptr<Connection> c = std::move(conn);
          parked = false;
          lock.unlock();
          Drop(std::move(c), sys);
          lock.lock();
          continue;
        }
        sys.wait_until(cv, lock, due);
      } else {
        sys.wait_until(cv, lock, kNever);
      }
    }
  }

  // Waits with mu held until done() or `until`; false when the time ran out.
  template <typename Done>
  bool WaitFor(std::unique_lock<std::mutex>& lock, NetClock::time_point until, Done done) {
    while (!done()) {
      if (sys.now() >= until) return false;
      sys.wait_until(cv, lock, until);
    }
    return true;
  }

  DevError Negotiate(std::unique_lock<std::mutex>& lock);
  DevError SendLine(std::unique_lock<std::mutex>& lock, const LineSettings& s);
};

NetworkCommDevice::NetworkCommDevice(const NetSyscalls& sys) : impl_(std::make_unique<Impl>(sys)) {
  impl_->keeper = std::thread([d = impl_.get()] { d->KeeperLoop(); });
}

NetworkCommDevice::~NetworkCommDevice() {
  Impl& d = *impl_;
  std::unique_ptr<Connection> c;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    d.quit = true;
    d.open = false;
    c = std::move(d.conn);
  }
  d.cv.notify_all();
  d.keeper.join();
  Impl::Drop(std::move(c), d.sys);
}

DevError NetworkCommDevice::Impl::Negotiate(std::unique_lock<std::mutex>& lock) {
  Connection& c = *conn;
  const std::vector<std::uint8_t> begin = c.telnet.Begin();
  lock.unlock();
  int error = SendAll(c, begin.data(), begin.size());
  lock.lock();
  if (error != 0) return error;
  auto refused = [&] {
    return std::any_of(c.events.begin(), c.events.end(), [](const ComPortEvent& e) {
      return e.kind == ComPortEvent::Kind::kRefused && e.option == telnet::kOptionComPort;
    });
  };
  const bool answered = WaitFor(lock, sys.now() + kAckLimit, [&] {
    return c.telnet.ComPortAccepted() || refused() || c.gone_error != 0;
  });
  if (c.gone_error != 0) return c.gone_error;
  if (refused()) {
    problem = "the server refused COM-PORT-OPTION (RFC 2217): it cannot set the line's speed";
    return sys.errors.refused_option;
  }
  if (!answered) {
    problem = "the server did not take COM-PORT-OPTION (RFC 2217) within " +
              std::to_string(kAckLimit.count() / 1000) + " s";
    return sys.errors.timed_out;
  }
  c.events.clear();
  return 0;
}

DevError NetworkCommDevice::Open(const std::string& port) {
  Impl& d = *impl_;
  const PortUrlParse parsed = ParsePortUrl(port);
  std::unique_lock<std::mutex> lock(d.mu);
  if (d.open) return d.sys.errors.busy;
  d.parked = false;  // the connection is the open's from here
  d.problem.clear();
  if (!parsed.url) {
    d.problem = parsed.error;
    return d.sys.errors.bad_name;
  }
  const PortUrl& url = *parsed.url;
  const std::string name = FormatPortUrl(url);
  if (d.conn && (d.conn->name != name || d.conn->gone_error != 0)) {
    std::unique_ptr<Connection> old = std::move(d.conn);
    lock.unlock();
    Impl::Drop(std::move(old), d.sys);
    lock.lock();
  }
  if (!d.conn) {
    // No other thread uses the device while it is closed, and the keeper closes only a
    // parked connection.
    lock.unlock();
    NetConnection reached = ConnectTo(d.sys, url);
    lock.lock();
    if (reached.socket == kNoSocket) {
      d.problem = reached.problem;
      return reached.error;
    }
    auto c = std::make_unique<Connection>();
    c->name = name;
    c->scheme = url.scheme;
    c->socket = reached.socket;
    Connection* raw = c.get();
    d.conn = std::move(c);
    raw->reader = std::thread([&d, raw] { d.ReaderLoop(raw); });
    if (url.scheme == NetScheme::kRfc2217) {
      if (DevError e = d.Negotiate(lock); e != 0) {
        std::unique_ptr<Connection> failed = std::move(d.conn);
        lock.unlock();
        Impl::Drop(std::move(failed), d.sys);
        return e;
      }
    }
  }
  // What came while the port was closed belongs to no exchange.
  d.rx.clear();
  d.reported = d.received;
  d.tx_pending = false;
  d.awaiting_answer = false;
  d.gateway_code = 0;
  d.event_mask = 0;
  d.open = true;
  d.cv.notify_all();
  return 0;
}

bool NetworkCommDevice::IsOpen() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->open;
}

bool NetworkCommDevice::HoldsConnection() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->conn != nullptr;
}

DevError NetworkCommDevice::Close() {
  Impl& d = *impl_;
  std::lock_guard<std::mutex> lock(d.mu);
  if (!d.open) return 0;
  d.open = false;
  d.parked = true;
  d.closed_at = d.sys.now();
  d.cv.notify_all();  // waits and reads end; the keeper starts counting
  return 0;
}

DevError NetworkCommDevice::SetupQueues(int /*input_size*/, int /*output_size*/) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->open ? 0 : impl_->sys.errors.not_open;
}

DevError NetworkCommDevice::Impl::SendLine(std::unique_lock<std::mutex>& lock,
                                           const LineSettings& s) {
  Connection& c = *conn;
  const std::uint8_t parity = ParityCode(s.Parity), stop = StopCode(s.StopBits);
  if (s.BaudRate == 0 || s.ByteSize < 5 || s.ByteSize > 8 || parity == 0 || stop == 0) {
    problem = "line settings the server cannot be asked for";
    return sys.errors.invalid;
  }
  std::vector<std::uint8_t> out;
  c.events.clear();
  for (const auto& [command, value] :
       {std::pair<std::uint8_t, std::uint32_t>{rfc2217::kSetBaudRate, s.BaudRate},
        {rfc2217::kSetDataSize, s.ByteSize},
        {rfc2217::kSetParity, parity},
        {rfc2217::kSetStopSize, stop}}) {
    const std::vector<std::uint8_t> request = c.telnet.Request(command, value);
    out.insert(out.end(), request.begin(), request.end());
  }
  lock.unlock();
  int error = SendAll(c, out.data(), out.size());
  lock.lock();
  if (error != 0) return error;
  const bool acknowledged = WaitFor(lock, sys.now() + kAckLimit, [&] {
    return c.telnet.Awaited() == 0 || c.gone_error != 0 ||
           std::any_of(c.events.begin(), c.events.end(), [](const ComPortEvent& e) {
             return e.kind == ComPortEvent::Kind::kRefused;
           });
  });
  if (c.gone_error != 0) return c.gone_error;
  for (const ComPortEvent& e : c.events) {
    const std::string what = ComPortCommandName(e.command);
    if (e.kind == ComPortEvent::Kind::kWrongValue) {
      problem = "the server acknowledged " + what + " " + std::to_string(e.value) + ", not " +
                std::to_string(e.asked);
    } else if (e.kind == ComPortEvent::Kind::kRefused) {
      problem = "the server withdrew COM-PORT-OPTION (RFC 2217)";
    } else if (e.kind == ComPortEvent::Kind::kMalformed) {
      problem = "the server's acknowledgement of " + what + " has the wrong length";
    } else {
      continue;
    }
    Gone(c, e.kind == ComPortEvent::Kind::kRefused ? sys.errors.refused_option : sys.errors.invalid,
         problem);
    return c.gone_error;
  }
  if (!acknowledged) {
    problem = "the server did not acknowledge the line settings within " +
              std::to_string(kAckLimit.count() / 1000) + " s";
    // Acknowledgements still awaited would be taken for the next settings'.
    Gone(c, sys.errors.timed_out, problem);
    return c.gone_error;
  }
  c.events.clear();
  c.line = s;
  c.has_line = true;
  return 0;
}

DevError NetworkCommDevice::SetLineSettings(const LineSettings& settings) {
  Impl& d = *impl_;
  std::unique_lock<std::mutex> lock(d.mu);
  if (int e = d.Failure(); e != 0) return e;
  // tcp:// and modbus-tcp://: the speed is the server's.
  if (d.conn->scheme != NetScheme::kRfc2217) return 0;
  if (d.conn->has_line && d.conn->line == settings) return 0;
  return d.SendLine(lock, settings);
}

DevError NetworkCommDevice::SetTimeouts(const CommTimeouts& timeouts) {
  Impl& d = *impl_;
  std::lock_guard<std::mutex> lock(d.mu);
  if (!d.open) return d.sys.errors.not_open;
  d.timeouts = timeouts;
  d.cv.notify_all();
  return 0;
}

DevError NetworkCommDevice::SetEventMask(std::uint32_t mask) {
  Impl& d = *impl_;
  std::lock_guard<std::mutex> lock(d.mu);
  if (!d.open) return d.sys.errors.not_open;
  d.event_mask = mask;
  d.cv.notify_all();
  return 0;
}

std::unique_ptr<CommStopSignal> NetworkCommDevice::CreateStopSignal() {
  return std::make_unique<LockedStopSignal>(impl_->mu, impl_->cv);
}

WaitResult NetworkCommDevice::WaitEvent(CommStopSignal& stop_base) {
  Impl& d = *impl_;
  auto& stop = static_cast<LockedStopSignal&>(stop_base);
  std::unique_lock<std::mutex> lock(d.mu);
  for (;;) {
    if (stop.IsSetLocked()) return {WaitOutcome::kStopped, 0, 0};
    if (int e = d.Failure(); e != 0) return {WaitOutcome::kFailed, 0, e};
    if (d.event_mask == 0) return {WaitOutcome::kFailed, 0, d.sys.errors.invalid};
    std::uint32_t events = 0;
    // EV_RXCHAR once per arrival: bytes that stay queued are not reported again.
    if (d.received > d.reported) {
      d.reported = d.received;
      if (d.event_mask & EV_RXCHAR) events |= EV_RXCHAR;
    }
    if (d.tx_pending && (d.event_mask & EV_TXEMPTY)) {
      d.tx_pending = false;
      events |= EV_TXEMPTY;
    }
    if (events != 0) return {WaitOutcome::kEvents, events, 0};
    d.sys.wait_until(d.cv, lock, kNever);
  }
}

IoResult NetworkCommDevice::Read(void* buffer, int count) {
  Impl& d = *impl_;
  std::unique_lock<std::mutex> lock(d.mu);
  if (!d.open) return {d.sys.errors.not_open, 0};
  if (count <= 0) return {0, 0};
  const ReadPlan plan = PlanRead(d.timeouts, count);
  const std::uint64_t aborts = d.rx_aborts;
  const NetClock::time_point start = d.sys.now();
  NetClock::time_point last_byte{};
  auto* out = static_cast<std::uint8_t*>(buffer);
  int got = 0;
  for (;;) {
    if (!d.rx.empty()) {
      const int n = std::min<int>(count - got, static_cast<int>(d.rx.size()));
      std::copy_n(d.rx.begin(), n, out + got);
      d.rx.erase(d.rx.begin(), d.rx.begin() + n);
      got += n;
      last_byte = d.sys.now();
      if (got >= count) break;
    }
    if (plan.EndsWithWhatIsQueued(got)) break;
    if (d.rx_aborts != aborts || !d.open) return {d.sys.errors.cancelled, 0};
    if (d.conn->gone_error != 0) {
      if (got > 0) break;  // what came before the drop first
      return {d.conn->gone_error, 0};
    }
    const std::optional<NetClock::time_point> due = plan.Deadline(start, last_byte, got);
    if (due && d.sys.now() >= *due) break;
    d.sys.wait_until(d.cv, lock, due ? *due : kNever);
  }
  return {0, got};
}

IoResult NetworkCommDevice::Write(const void* buffer, int count) {
  Impl& d = *impl_;
  std::unique_lock<std::mutex> lock(d.mu);
  if (int e = d.Failure(); e != 0) return {e, 0};
  if (count <= 0) return {0, 0};
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  Connection& c = *d.conn;
  std::vector<std::uint8_t> out;
  switch (c.scheme) {
    case NetScheme::kTcp:
      out.assign(in, in + count);
      break;
    case NetScheme::kRfc2217:
      c.telnet.AppendData(out, in, static_cast<std::size_t>(count));
      break;
    case NetScheme::kModbusTcp: {
      const std::uint16_t transaction = static_cast<std::uint16_t>(d.transaction + 1);
      MbapRequest request = EncodeMbapRequest(in, static_cast<std::size_t>(count), transaction);
      if (request.bytes.empty()) {
        d.problem = request.error;
        return {d.sys.errors.invalid, 0};
      }
      d.transaction = transaction;
      d.unit = in[0];
      d.awaiting_answer = in[0] != 0;  // a broadcast has no answer
      d.gateway_code = 0;
      d.tcp_frames = {request.bytes, {}};
      out = std::move(request.bytes);
      break;
    }
  }
  lock.unlock();
  if (int e = d.SendAll(c, out.data(), out.size()); e != 0) return {e, 0};
  lock.lock();
  d.tx_pending = true;
  d.cv.notify_all();
  return {0, count};
}

DevError NetworkCommDevice::ClearError(std::uint32_t& errors, std::uint32_t& in_queue) {
  Impl& d = *impl_;
  std::lock_guard<std::mutex> lock(d.mu);
  if (!d.open) return d.sys.errors.not_open;
  errors = 0;
  in_queue = static_cast<std::uint32_t>(d.rx.size());
  // A dropped connection fails the query once nothing it brought is left to read.
  return d.rx.empty() ? d.conn->gone_error : 0;
}

DevError NetworkCommDevice::GetModemStatus(std::uint32_t& status) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (!impl_->open) return impl_->sys.errors.not_open;
  status = 0;  // no modem lines, as on a pty
  return 0;
}

DevError NetworkCommDevice::Purge(std::uint32_t flags) {
  Impl& d = *impl_;
  std::lock_guard<std::mutex> lock(d.mu);
  if (!d.open) return d.sys.errors.not_open;
  if (flags & PURGE_RXABORT) ++d.rx_aborts;
  if (flags & PURGE_RXCLEAR) {
    d.rx.clear();
    d.reported = d.received;
  }
  if (flags & PURGE_TXCLEAR) d.tx_pending = false;
  d.cv.notify_all();
  return 0;
}

std::string NetworkCommDevice::LastProblem() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->problem;
}

CommDevice::NetworkFrames NetworkCommDevice::LastNetworkFrames() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->tcp_frames;
}

std::uint8_t NetworkCommDevice::GatewayNoAnswerCode() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->gateway_code;
}

}  // namespace ornat
