// The socket seam over Linux sockets.

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/network/net_syscalls.h"

namespace ornat {

namespace {

int Fd(NetSocket s) {
  return static_cast<int>(s);
}

int Resolve(const std::string& host, std::uint16_t port, std::vector<NetAddress>& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int r = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (r != 0) {
    // getaddrinfo's own codes are no errno: a name the system cannot find (or cannot
    // look up now) is a host that cannot be reached.
    if (r == EAI_SYSTEM && errno != 0) return errno;
    if (r == EAI_MEMORY) return ENOMEM;
    return EHOSTUNREACH;
  }
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    NetAddress address;
    if (a->ai_addrlen > address.bytes.size()) continue;
    address.family = a->ai_family;
    address.length = static_cast<int>(a->ai_addrlen);
    std::memcpy(address.bytes.data(), a->ai_addr, a->ai_addrlen);
    out.push_back(address);
  }
  ::freeaddrinfo(found);
  return out.empty() ? EHOSTUNREACH : 0;
}

NetSyscalls MakeReal() {
  NetSyscalls s;
  s.getaddrinfo = Resolve;
  s.socket = [](int family, int& error) -> NetSocket {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    error = fd < 0 ? errno : 0;
    return fd < 0 ? kNoSocket : fd;
  };
  s.connect = [](NetSocket sock, const NetAddress& to) {
    const int r = ::connect(Fd(sock), reinterpret_cast<const sockaddr*>(to.bytes.data()),
                            static_cast<socklen_t>(to.length));
    return r == 0 ? 0 : errno;
  };
  s.poll_writable = [](NetSocket sock, int timeout_ms, bool& ready) {
    pollfd p = {Fd(sock), POLLOUT, 0};
    const int r = ::poll(&p, 1, timeout_ms);
    if (r < 0) return errno == EINTR ? 0 : errno;
    ready = r > 0;
    return 0;
  };
  s.connect_error = [](NetSocket sock) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(Fd(sock), SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
    return error;
  };
  s.set_blocking_nodelay = [](NetSocket sock) {
    const int flags = ::fcntl(Fd(sock), F_GETFL);
    if (flags < 0 || ::fcntl(Fd(sock), F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
    const int on = 1;
    if (::setsockopt(Fd(sock), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) return errno;
    return 0;
  };
  s.send = [](NetSocket sock, const void* data, std::size_t n, int& error) -> long {
    long r;
    do r = ::send(Fd(sock), data, n, MSG_NOSIGNAL);
    while (r < 0 && errno == EINTR);
    error = r < 0 ? errno : 0;
    return r;
  };
  s.recv = [](NetSocket sock, void* data, std::size_t n, int& error) -> long {
    long r;
    do r = ::recv(Fd(sock), data, n, 0);
    while (r < 0 && errno == EINTR);
    error = r < 0 ? errno : 0;
    return r;
  };
  s.shutdown = [](NetSocket sock) { ::shutdown(Fd(sock), SHUT_RDWR); };
  s.close = [](NetSocket sock) { ::close(Fd(sock)); };
  s.now = [] { return NetClock::now(); };
  s.wait_until = [](std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                    NetClock::time_point until) {
    if (until == NetClock::time_point::max())
      cv.wait(lock);
    else
      cv.wait_until(lock, until);
  };
  s.errors = {ETIMEDOUT, ECONNRESET, EPROTONOSUPPORT, EHOSTUNREACH, EINVAL,     EINVAL,
              EPROTO,    EBADF,      EBUSY,           ECANCELED,    EINPROGRESS};
  return s;
}

}  // namespace

const NetSyscalls& NetSyscalls::Real() {
  static const NetSyscalls real = MakeReal();
  return real;
}

}  // namespace ornat
