#include "tcp_listener.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ornat::sim {

ListenUrlParse ParseListenUrl(const std::string& text) {
  ListenUrlParse out;
  std::string name = text;
  const std::size_t sep = name.find("://");
  if (sep == std::string::npos) {
    out.error = "\"" + text + "\" is not a URL (tcp://[HOST]:PORT or modbus-tcp://[HOST][:PORT])";
    return out;
  }
  // No host: the loopback address. Port 0: the system picks one (written as 1 for the
  // parser, which takes 1..65535).
  if (sep + 3 == name.size() || name[sep + 3] == ':') name.insert(sep + 3, "127.0.0.1");
  const bool any_port = name.size() > 2 && name.compare(name.size() - 2, 2, ":0") == 0;
  if (any_port) name.back() = '1';
  PortUrlParse parsed = ParsePortUrl(name);
  if (!parsed.url) {
    out.error = parsed.error;
    return out;
  }
  if (parsed.url->scheme == NetScheme::kRfc2217) {
    out.error = "\"" + text + "\": ornat-sim listens as tcp:// or modbus-tcp://, not rfc2217://";
    return out;
  }
  out.url = *parsed.url;
  if (any_port) out.url.port = 0;
  return out;
}

TcpListener::~TcpListener() {
  if (fd_ >= 0) close(fd_);
}

bool TcpListener::Open(const PortUrl& url, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(url.port);
  if (const int r = getaddrinfo(url.host.c_str(), port.c_str(), &hints, &found); r != 0) {
    error = "cannot resolve " + url.host + ": " + gai_strerror(r);
    return false;
  }
  int err = 0;
  for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 4) != 0) {
      err = errno;
      close(fd);
      continue;
    }
    fd_ = fd;
  }
  freeaddrinfo(found);
  PortUrl bound = url;
  if (fd_ < 0) {
    error = "cannot listen on " + FormatPortUrl(bound) + ": " + std::strerror(err);
    return false;
  }
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    bound.port =
        ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port
                                         : reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
  }
  url_ = FormatPortUrl(bound);
  return true;
}

int TcpListener::Accept() {
  const int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

}  // namespace ornat::sim
