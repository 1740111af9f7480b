#pragma once
// FakeNet: the network device's socket seam with a server scripted by the test and a
// virtual clock. Connects end as each address's outcome says (a host that never
// answers lets its whole poll time pass on the clock); the server's bytes arrive in the
// segments Serve() is given; what the device sends is kept, and on_send may answer it.
// The device's waits re-check every millisecond of real time, so the clock moves only
// when the test (or a poll that runs out) moves it. Header-only.

#include <algorithm>
#include <deque>
#include <vector>

#include "serial/network/net_syscalls.h"

namespace ornat::testing {

using Bytes = std::vector<std::uint8_t>;

class FakeNet {
 public:
  static constexpr int kNeverAnswers = -1;  // a connect outcome
  std::vector<int> connects{0};  // each address's: 0 accepted, kNeverAnswers, or an error
  int resolve_error = 0;
  bool resolve_hangs = false;  // getaddrinfo returns only at ReleaseResolve()
  std::function<void(FakeNet&, const Bytes& sent)> on_send;
  std::vector<int> poll_timeouts;

  FakeNet() {
    sys_.errors = NetSyscalls::Real().errors;  // the platform's numbers
    sys_.getaddrinfo = [this](const std::string&, std::uint16_t, std::vector<NetAddress>& out) {
      Locked lock(mu_);
      ++resolves_;
      cv_.wait(lock, [&] { return !resolve_hangs || released_; });
      out.resize(resolve_error != 0 ? 0 : connects.size());
      return resolve_error;
    };
    sys_.socket = [this](int, int& error) {
      Locked lock(mu_);
      error = 0;
      sockets_.emplace_back();
      return static_cast<NetSocket>(sockets_.size() - 1);
    };
    sys_.connect = [this](NetSocket s, const NetAddress&) {
      const int outcome = connects[static_cast<std::size_t>(s) % connects.size()];
      return outcome == kNeverAnswers ? sys_.errors.in_progress : outcome;
    };
    sys_.poll_writable = [this](NetSocket, int timeout_ms, bool& ready) {
      poll_timeouts.push_back(timeout_ms);
      Advance(std::chrono::milliseconds(timeout_ms));
      return ready = false;
    };
    sys_.connect_error = sys_.set_blocking_nodelay = [](NetSocket) { return 0; };
    sys_.send = [this](NetSocket s, const void* data, std::size_t n, int& error) -> long {
      const Bytes bytes(static_cast<const std::uint8_t*>(data),
                        static_cast<const std::uint8_t*>(data) + n);
      {
        Locked lock(mu_);
        Socket& k = At(s);
        error = k.shut ? sys_.errors.reset : 0;
        if (k.shut) return -1;
        k.sent.insert(k.sent.end(), bytes.begin(), bytes.end());
      }
      if (on_send) on_send(*this, bytes);
      return static_cast<long>(n);
    };
    sys_.recv = [this](NetSocket s, void* data, std::size_t n, int& error) -> long {
      Locked lock(mu_);
      Socket& k = At(s);
      cv_.wait(lock, [&] { return k.shut || !k.incoming.empty(); });
      error = 0;
      if (k.incoming.empty()) return 0;
      Bytes& seg = k.incoming.front();
      const std::size_t m = std::min(n, seg.size());
      std::copy_n(seg.begin(), m, static_cast<std::uint8_t*>(data));
      seg.erase(seg.begin(), seg.begin() + static_cast<std::ptrdiff_t>(m));
      if (seg.empty()) k.incoming.pop_front();
      return static_cast<long>(m);
    };
    sys_.shutdown = [this](NetSocket s) { Shut(s); };
    sys_.close = [this](NetSocket s) {
      Locked lock(mu_);
      At(s).closed = true;
    };
    sys_.now = [this] { return Now(); };
    sys_.wait_until = [](std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         NetClock::time_point) { cv.wait_for(lock, std::chrono::milliseconds(1)); };
  }
  const NetSyscalls& sys() const { return sys_; }

  void Advance(std::chrono::milliseconds ms) {
    Locked lock(mu_);
    now_ += ms;
  }
  NetClock::time_point Now() const { return Locked(mu_), now_; }
  // The server's next segment on the newest connection; Drop: the server closes it.
  void Serve(const Bytes& segment) {
    Locked lock(mu_);
    sockets_.back().incoming.push_back(segment);
    cv_.notify_all();
  }
  void Drop() { Shut(-2); }
  void ReleaseResolve() {
    Locked lock(mu_);
    released_ = true;
    cv_.notify_all();
  }
  int resolves() const { return Locked(mu_), resolves_; }  // getaddrinfo calls begun
  int sockets_made() const { return Locked(mu_), static_cast<int>(sockets_.size()); }
  int sockets_closed() const {
    Locked lock(mu_);
    return static_cast<int>(
        std::count_if(sockets_.begin(), sockets_.end(), [](const Socket& s) { return s.closed; }));
  }
  Bytes Sent() const { return Locked(mu_), sockets_.back().sent; }  // on the newest socket

 private:
  using Locked = std::unique_lock<std::mutex>;
  struct Socket {
    std::deque<Bytes> incoming;
    Bytes sent;
    bool shut = false, closed = false;
  };
  Socket& At(NetSocket s) { return sockets_[static_cast<std::size_t>(s)]; }
  void Shut(NetSocket s) {  // -2: the newest
    Locked lock(mu_);
    (s == -2 ? sockets_.back() : At(s)).shut = true;
    cv_.notify_all();
  }
  NetSyscalls sys_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  NetClock::time_point now_{};
  std::deque<Socket> sockets_;  // a deque: references stay valid as sockets are made
  bool released_ = false;
  int resolves_ = 0;
};

}  // namespace ornat::testing
