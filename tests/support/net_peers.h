#pragma once
// The peers of a network line's tests, on the loopback: a free TCP port, a listener
// whose connections a handler serves (a server that refuses, drops, or never accepts),
// ser2net started with a YAML of the test's, and the speed a pty's tty is set to.
// Header-only; Linux.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/program.h"

namespace ornat::testing {

// A connection to 127.0.0.1:port, or -1.
inline int ConnectLoopback(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return s;
  ::close(s);
  return -1;
}

// A listening socket on 127.0.0.1 at a free port. backlog 0 and no handler: it never
// accepts, and once one connection fills its queue the next connect hears nothing.
class LoopbackListener {
 public:
  explicit LoopbackListener(std::function<void(int fd)> handler = {}, int backlog = 4) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    if (handler)
      thread_ = std::thread([this, handler] {
        for (int c; (c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
          handler(c);
          ::close(c);
        }
      });
  }
  ~LoopbackListener() {
    ::shutdown(fd_, SHUT_RDWR);  // ends the accept
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  int port() const { return port_; }

  // A client's connection to a listener, held while the object lives.
  struct Connection {
    explicit Connection(int port);
    ~Connection() { ::close(fd); }
    int fd;
  };

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// A port nobody listens on now.
inline int FreeTcpPort() {
  return LoopbackListener().port();
}

inline LoopbackListener::Connection::Connection(int port) : fd(ConnectLoopback(port)) {}

// ser2net 4 (Debian's) with `yaml` (its connections), not detached, without UUCP locks.
inline std::unique_ptr<Program> Ser2net(const std::string& dir, const std::string& yaml) {
  const std::string config = dir + "/ser2net.yaml";
  std::ofstream(config) << "%YAML 1.1\n---\n" << yaml;
  return std::make_unique<Program>(std::vector<std::string>{"/usr/sbin/ser2net", "-n", "-u", "-c",
                                                            config, "-P", dir + "/ser2net.pid"},
                                   dir, "ser2net");
}

// One ser2net accepter on 127.0.0.1:port in front of a pty, 9600 bit/s to start:
// `rfc2217` its RFC 2217 accepter, else its raw TCP one; `chardelay` (true, false), when
// given, whether it waits for a pause before it forwards the pty's bytes.
inline std::unique_ptr<Program> Ser2netLine(const std::string& dir, int port,
                                            const std::string& pty, bool rfc2217,
                                            const std::string& chardelay = {}) {
  return Ser2net(dir,
                 "connection: &line\n  accepter: " +
                     std::string(rfc2217 ? "telnet(rfc2217),tcp" : "tcp") + ",127.0.0.1," +
                     std::to_string(port) + "\n  connector: serialdev," + pty + ",9600n81,local\n" +
                     (chardelay.empty() ? "" : "  options:\n    chardelay: " + chardelay + "\n"));
}

// ser2net's RFC 2217 accepter on 127.0.0.1:port in front of a pty.
inline std::unique_ptr<Program> Ser2netRfc2217(const std::string& dir, int port,
                                               const std::string& pty) {
  return Ser2netLine(dir, port, pty, true);
}

// Waits until something accepts connections on 127.0.0.1:port.
inline bool Listening(int port) {
  for (int i = 0; i < 500; ++i) {
    const int s = ConnectLoopback(port);
    if (s >= 0) ::close(s);
    if (s >= 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The output speed of the tty at `path` (TCGETS2: a rate of any value, 14400 too); 0
// when it cannot be read.
// struct termios2 spelled out: <asm/termbits.h> cannot share a file with <termios.h>.
inline unsigned PtySpeed(const std::string& path) {
  struct Termios2 {
    unsigned iflag, oflag, cflag, lflag;
    unsigned char line, cc[19];
    unsigned ispeed, ospeed;
  } t{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const bool ok = fd >= 0 && ::ioctl(fd, _IOR('T', 0x2A, Termios2), &t) == 0;
  if (fd >= 0) ::close(fd);
  return ok ? t.ospeed : 0;
}

}  // namespace ornat::testing
