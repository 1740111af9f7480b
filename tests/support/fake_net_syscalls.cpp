#include "support/fake_net_syscalls.h"

namespace ornat::testing {

FakeNet::FakeNet() : connects{0} {
  sys_.errors = NetSyscalls::Real().errors;  // the platform's numbers
  sys_.getaddrinfo = [this](const std::string&, std::uint16_t, std::vector<NetAddress>& out) {
    std::unique_lock<std::mutex> lock(mu_);
    ++resolves_;
    cv_.wait(lock, [&] { return !resolve_hangs || resolve_released_; });
    out.resize(resolve_error != 0 ? 0 : connects.size());
    return resolve_error;
  };
  sys_.socket = [this](int, int& error) -> NetSocket {
    std::lock_guard<std::mutex> lock(mu_);
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
    ready = false;
    return 0;
  };
  sys_.connect_error = [](NetSocket) { return 0; };
  sys_.set_blocking_nodelay = [](NetSocket) { return 0; };
  sys_.send = [this](NetSocket s, const void* data, std::size_t n, int& error) -> long {
    const auto* b = static_cast<const std::uint8_t*>(data);
    {
      std::lock_guard<std::mutex> lock(mu_);
      Socket& k = sockets_[static_cast<std::size_t>(s)];
      error = k.shut ? sys_.errors.reset : 0;
      if (k.shut) return -1;
      k.sent.insert(k.sent.end(), b, b + n);
    }
    if (on_send) on_send(*this, Bytes(b, b + n));
    return static_cast<long>(n);
  };
  sys_.recv = [this](NetSocket s, void* data, std::size_t n, int& error) -> long {
    std::unique_lock<std::mutex> lock(mu_);
    Socket& k = sockets_[static_cast<std::size_t>(s)];
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
  sys_.shutdown = [this](NetSocket s) {
    std::lock_guard<std::mutex> lock(mu_);
    sockets_[static_cast<std::size_t>(s)].shut = true;
    cv_.notify_all();
  };
  sys_.close = [this](NetSocket s) {
    std::lock_guard<std::mutex> lock(mu_);
    sockets_[static_cast<std::size_t>(s)].closed = true;
  };
  sys_.now = [this] { return Now(); };
  sys_.wait_until = [](std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                       NetClock::time_point) { cv.wait_for(lock, std::chrono::milliseconds(1)); };
}

void FakeNet::Advance(std::chrono::milliseconds ms) {
  std::lock_guard<std::mutex> lock(mu_);
  now_ += ms;
}

NetClock::time_point FakeNet::Now() const {
  std::lock_guard<std::mutex> lock(mu_);
  return now_;
}

void FakeNet::Serve(const Bytes& segment) {
  std::lock_guard<std::mutex> lock(mu_);
  sockets_.back().incoming.push_back(segment);
  cv_.notify_all();
}

void FakeNet::Drop() {
  std::lock_guard<std::mutex> lock(mu_);
  sockets_.back().shut = true;
  cv_.notify_all();
}

void FakeNet::ReleaseResolve() {
  std::lock_guard<std::mutex> lock(mu_);
  resolve_released_ = true;
  cv_.notify_all();
}

int FakeNet::resolves() const {
  std::lock_guard<std::mutex> lock(mu_);
  return resolves_;
}

int FakeNet::sockets_made() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(sockets_.size());
}

int FakeNet::sockets_closed() const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const Socket& s : sockets_) n += s.closed ? 1 : 0;
  return n;
}

Bytes FakeNet::Sent() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sockets_.back().sent;
}

}  // namespace ornat::testing
