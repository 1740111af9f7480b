#pragma once
// TcpListener: the socket ornat-sim listens on with --listen, as a serial device
// server or a Modbus TCP gateway does: bound to one address, serving one client at a
// time (a second waits in the backlog until the first has gone).

#include <string>

#include "serial/network/port_url.h"

namespace ornat::sim {

// What --listen names: tcp:// or modbus-tcp://, the host 127.0.0.1 when left out
// ("tcp://:5020"), port 0 for one the system picks.
struct ListenUrlParse {
  PortUrl url;
  std::string error;  // empty when url holds
};
ListenUrlParse ParseListenUrl(const std::string& text);

class TcpListener {
 public:
  TcpListener() = default;
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;
  ~TcpListener();

  // Binds and listens; false with `error` on failure.
  bool Open(const PortUrl& url, std::string& error);
  int fd() const { return fd_; }
  // The URL as bound, the port the system picked included.
  const std::string& url() const { return url_; }
  // The next client, non-blocking with TCP_NODELAY (each answer byte goes out at its
  // time); -1 when none waits.
  int Accept();

 private:
  int fd_ = -1;
  std::string url_;
};

}  // namespace ornat::sim
