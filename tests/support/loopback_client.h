#pragma once
// LoopbackClient: a plain TCP client of a server the test started (ornat-sim --listen,
// "tcp://127.0.0.1:40123"), with no code of the window's network device in it.

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "serial/network/port_url.h"

namespace ornat::testing {

class LoopbackClient {
 public:
  explicit LoopbackClient(const std::string& url) {
    const PortUrlParse p = ParsePortUrl(url);
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* a = nullptr;
    if (!p.url ||
        getaddrinfo(p.url->host.c_str(), std::to_string(p.url->port).c_str(), &hints, &a) != 0)
      return;
    fd_ = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && connect(fd_, a->ai_addr, a->ai_addrlen) != 0) Close();
    freeaddrinfo(a);
  }
  ~LoopbackClient() { Close(); }
  void Close() { fd_ = fd_ >= 0 ? (close(fd_), -1) : -1; }
  bool Send(const std::vector<std::uint8_t>& b) {
    return fd_ >= 0 && send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size());
  }
  // What comes until `want` bytes are in, the server closes, or nothing came for `limit`.
  std::vector<std::uint8_t> Read(std::size_t want, std::chrono::milliseconds limit) {
    std::vector<std::uint8_t> got(512);
    std::size_t n = 0;
    const timeval tv{limit.count() / 1000, limit.count() % 1000 * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    for (ssize_t r = 1; fd_ >= 0 && n < want && r > 0; n += r > 0 ? std::size_t(r) : 0)
      r = recv(fd_, got.data() + n, got.size() - n, 0);
    got.resize(n);
    return got;
  }

 private:
  int fd_ = -1;
};

}  // namespace ornat::testing
