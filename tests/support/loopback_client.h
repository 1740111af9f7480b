#pragma once
// LoopbackClient: a plain TCP client of a server the test started (ornat-sim --listen),
// with no code of the window's network device in it. Every wait is bounded.
//
//   LoopbackClient c(sim.listen_url());   // "tcp://127.0.0.1:40123", "modbus-tcp://[::1]:502"
//   c.Send(FromHex("F7 03 00 00 00 08 50 9A"));
//   std::vector<std::uint8_t> answer = c.Read(21, 2s);

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/network/port_url.h"

namespace ornat::testing {

class LoopbackClient {
 public:
  explicit LoopbackClient(const std::string& url) {
    const PortUrlParse parsed = ParsePortUrl(url);
    if (!parsed.url) return;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(parsed.url->host.c_str(), std::to_string(parsed.url->port).c_str(), &hints,
                    &found) != 0)
      return;
    fd_ = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && connect(fd_, found->ai_addr, found->ai_addrlen) != 0) Close();
    freeaddrinfo(found);
  }
  ~LoopbackClient() { Close(); }
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool Send(const std::vector<std::uint8_t>& bytes) {
    return fd_ >= 0 && send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                           static_cast<ssize_t>(bytes.size());
  }
  // What comes until `want` bytes are in, the server closes, or `limit` has passed.
  std::vector<std::uint8_t> Read(std::size_t want, std::chrono::milliseconds limit) {
    std::vector<std::uint8_t> got;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (fd_ >= 0 && got.size() < want) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      std::uint8_t buf[512];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

 private:
  int fd_ = -1;
};

}  // namespace ornat::testing
