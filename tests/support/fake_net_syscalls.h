#pragma once
// FakeNet: the network device's socket seam with a server scripted by the test and a
// virtual clock. Connects end as each address's outcome says (a host that never
// answers lets its whole poll time pass on the clock); the server's bytes arrive as
// the segments Serve() is given; what the device sends is kept, and on_send may answer
// it. Waits of the device re-check every millisecond of real time, so the clock only
// moves when the test (or a poll that runs out) moves it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "serial/network/net_syscalls.h"

namespace ornat::testing {

using Bytes = std::vector<std::uint8_t>;

class FakeNet {
 public:
  // What the connect to one address does: 0 accepted, kNeverAnswers, or an error.
  static constexpr int kNeverAnswers = -1;

  FakeNet();
  const NetSyscalls& sys() const { return sys_; }

  void Advance(std::chrono::milliseconds ms);
  NetClock::time_point Now() const;

  // The server's next segment, to the newest socket.
  void Serve(const Bytes& segment);
  // The server closes the newest connection.
  void Drop();

  std::vector<int> connects;  // outcome of each address, in order (default: one, 0)
  int resolve_error = 0;
  bool resolve_hangs = false;  // getaddrinfo returns only at ReleaseResolve()
  void ReleaseResolve();
  std::function<void(FakeNet&, const Bytes& sent)> on_send;

  // Observed.
  std::vector<int> poll_timeouts;
  int resolves() const;  // getaddrinfo calls begun
  int sockets_made() const;
  int sockets_closed() const;
  Bytes Sent() const;  // everything sent on the newest socket

 private:
  struct Socket {
    std::deque<Bytes> incoming;
    Bytes sent;
    bool shut = false, closed = false;
  };
  NetSyscalls sys_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  NetClock::time_point now_{};
  std::vector<Socket> sockets_;
  bool resolve_released_ = false;
  int resolves_ = 0;
};

}  // namespace ornat::testing
