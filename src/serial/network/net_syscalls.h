#pragma once
// NetSyscalls: the socket seam of the network device. Every call the device makes to
// the system's sockets (Linux sockets in net_syscalls_linux.cpp, Winsock in
// net_syscalls_windows.cpp; the build takes one by its name) and to the clock goes
// through this table, so tests can refuse a connect, hold a name's resolution, drop a
// connection, or let the 3 s connect limit pass on a virtual clock. Each call returns
// the platform's error number itself (errno, WSAGetLastError()) instead of leaving it
// in a global, so that the device's code is the same on both platforms.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ornat {

// A socket: a descriptor on Linux, a SOCKET on Windows; kNoSocket for none.
using NetSocket = std::intptr_t;
inline constexpr NetSocket kNoSocket = -1;

using NetClock = std::chrono::steady_clock;

// One address a name resolved to (a sockaddr of its family, copied).
struct NetAddress {
  int family = 0;
  int length = 0;
  std::array<unsigned char, 128> bytes{};
};

// The platform's numbers for what the device reports of its own accord.
struct NetErrors {
  int timed_out;       // no answer within the limit (ETIMEDOUT, WSAETIMEDOUT)
  int reset;           // the server closed or reset the connection (ECONNRESET...)
  int refused_option;  // the server refused RFC 2217 (EPROTONOSUPPORT...)
  int no_such_host;    // the name does not resolve (EHOSTUNREACH, WSAHOST_NOT_FOUND)
  int bad_name;        // not a URL the device takes (EINVAL, ERROR_INVALID_NAME)
  int invalid;         // a request or setting the line cannot carry (EINVAL...)
  int protocol;        // the server's bytes cannot be framed (EPROTO, ERROR_INVALID_DATA)
  int not_open;        // a call on a closed device (EBADF, ERROR_INVALID_HANDLE)
  int busy;            // Open on an open device (EBUSY, ERROR_BUSY)
  int cancelled;       // a read a purge with abort ended (ECANCELED, 995)
  int in_progress;     // what connect returns for a connect under way
};

struct NetSyscalls {
  // getaddrinfo for a TCP stream: the addresses, in the order the system gives them.
  std::function<int(const std::string& host, std::uint16_t port, std::vector<NetAddress>& out)>
      getaddrinfo;
  // A non-blocking TCP socket of the family, not inherited by child processes.
  std::function<NetSocket(int family, int& error)> socket;
  // connect: 0, errors.in_progress, or the error.
  std::function<int(NetSocket s, const NetAddress& to)> connect;
  // poll (WSAPoll) for writability within timeout_ms: ready false when the time ran out.
  std::function<int(NetSocket s, int timeout_ms, bool& ready)> poll_writable;
  // getsockopt(SO_ERROR): the outcome of a connect that became writable.
  std::function<int(NetSocket s)> connect_error;
  // Blocking from now on, with TCP_NODELAY (setsockopt): frames go out at once.
  std::function<int(NetSocket s)> set_blocking_nodelay;
  // send / recv, blocking; < 0 with error set on failure; recv 0 is the server's close.
  std::function<long(NetSocket s, const void* data, std::size_t n, int& error)> send;
  std::function<long(NetSocket s, void* data, std::size_t n, int& error)> recv;
  // shutdown both ways: a recv blocked on the socket returns.
  std::function<void(NetSocket s)> shutdown;
  std::function<void(NetSocket s)> close;
  // The clock of every limit, and a wait on cv until it is notified or `until` comes
  // (spurious returns allowed; NetClock::time_point::max(): no limit).
  std::function<NetClock::time_point()> now;
  std::function<void(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                     NetClock::time_point until)>
      wait_until;
  NetErrors errors;

  static const NetSyscalls& Real();
};

}  // namespace ornat
