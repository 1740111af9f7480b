// The socket seam over Winsock 2.

// <winsock2.h> before anything that may bring <windows.h> (the threads of <mutex> do);
// the seam's header uses none of the names <windows.h> makes macros of.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <cstring>

#include "serial/network/net_syscalls.h"

namespace ornat {

namespace {

SOCKET Sock(NetSocket s) {
  return static_cast<SOCKET>(s);
}

int Resolve(const std::string& host, std::uint16_t port, std::vector<NetAddress>& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  // Winsock's getaddrinfo answers with WSA error numbers (WSAHOST_NOT_FOUND...).
  const int r = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (r != 0) return r;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    NetAddress address;
    if (a->ai_addrlen > address.bytes.size()) continue;
    address.family = a->ai_family;
    address.length = static_cast<int>(a->ai_addrlen);
    std::memcpy(address.bytes.data(), a->ai_addr, a->ai_addrlen);
    out.push_back(address);
  }
  ::freeaddrinfo(found);
  return out.empty() ? WSAHOST_NOT_FOUND : 0;
}

NetSyscalls MakeReal() {
  // Winsock is started once for the run and never cleaned up: sockets may live until
  // the program ends.
  WSADATA wsa;
  const int started = ::WSAStartup(MAKEWORD(2, 2), &wsa);
  NetSyscalls s;
  s.getaddrinfo = [started](const std::string& host, std::uint16_t port,
                            std::vector<NetAddress>& out) {
    return started != 0 ? started : Resolve(host, port, out);
  };
  s.socket = [](int family, int& error) -> NetSocket {
    const SOCKET sock =
        ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (sock == INVALID_SOCKET) {
      error = ::WSAGetLastError();
      return kNoSocket;
    }
    u_long on = 1;
    if (::ioctlsocket(sock, FIONBIO, &on) != 0) {
      error = ::WSAGetLastError();
      ::closesocket(sock);
      return kNoSocket;
    }
    error = 0;
    return static_cast<NetSocket>(sock);
  };
  s.connect = [](NetSocket sock, const NetAddress& to) {
    if (::connect(Sock(sock), reinterpret_cast<const sockaddr*>(to.bytes.data()), to.length) == 0)
      return 0;
    return ::WSAGetLastError();
  };
  s.poll_writable = [](NetSocket sock, int timeout_ms, bool& ready) {
    WSAPOLLFD p = {Sock(sock), POLLOUT, 0};
    const int r = ::WSAPoll(&p, 1, timeout_ms);
    if (r < 0) return ::WSAGetLastError();
    ready = r > 0;
    return 0;
  };
  s.connect_error = [](NetSocket sock) {
    int error = 0;
    int len = sizeof error;
    if (::getsockopt(Sock(sock), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0)
      return ::WSAGetLastError();
    return error;
  };
  s.set_blocking_nodelay = [](NetSocket sock) {
    u_long off = 0;
    if (::ioctlsocket(Sock(sock), FIONBIO, &off) != 0) return ::WSAGetLastError();
    const BOOL on = TRUE;
    if (::setsockopt(Sock(sock), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                     sizeof on) != 0)
      return ::WSAGetLastError();
    return 0;
  };
  s.send = [](NetSocket sock, const void* data, std::size_t n, int& error) -> long {
    const int r = ::send(Sock(sock), static_cast<const char*>(data), static_cast<int>(n), 0);
    error = r == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    return r;
  };
  s.recv = [](NetSocket sock, void* data, std::size_t n, int& error) -> long {
    const int r = ::recv(Sock(sock), static_cast<char*>(data), static_cast<int>(n), 0);
    error = r == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    return r;
  };
  s.shutdown = [](NetSocket sock) { ::shutdown(Sock(sock), SD_BOTH); };
  s.close = [](NetSocket sock) { ::closesocket(Sock(sock)); };
  s.now = [] { return NetClock::now(); };
  s.wait_until = [](std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                    NetClock::time_point until) {
    if (until == NetClock::time_point::max())
      cv.wait(lock);
    else
      cv.wait_until(lock, until);
  };
  s.errors = {WSAETIMEDOUT,       WSAECONNRESET,           WSAEPROTONOSUPPORT, WSAHOST_NOT_FOUND,
              ERROR_INVALID_NAME, ERROR_INVALID_PARAMETER, ERROR_INVALID_DATA, ERROR_INVALID_HANDLE,
              ERROR_BUSY,         ERROR_OPERATION_ABORTED, WSAEWOULDBLOCK};
  return s;
}

}  // namespace

const NetSyscalls& NetSyscalls::Real() {
  static const NetSyscalls real = MakeReal();
  return real;
}

}  // namespace ornat
