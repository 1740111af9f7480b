#pragma once
// Reaching a network line's server: its name resolved within a limit (the system's
// resolver has none of its own and can hang for tens of seconds on a dead DNS server,
// while the window's thread waits), then a TCP connect to each address in turn, all of
// them within one limit, so that a host that never answers costs 3 s and no more.

#include <chrono>
#include <string>

#include "serial/network/net_syscalls.h"
#include "serial/network/port_url.h"

namespace ornat {

inline constexpr std::chrono::milliseconds kResolveLimit{2000};
inline constexpr std::chrono::milliseconds kConnectLimit{3000};

struct NetConnection {
  NetSocket socket = kNoSocket;  // connected, blocking, TCP_NODELAY; kNoSocket on failure
  int error = 0;                 // the platform's error number of the failure
  std::string problem;           // what failed, in a sentence
};

NetConnection ConnectTo(const NetSyscalls& sys, const PortUrl& url);

}  // namespace ornat
