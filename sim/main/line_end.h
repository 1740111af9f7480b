#pragma once
// LineEnd: the simulator's end of the serial line. By default the master side of a new
// pseudo-terminal, whose slave device a master program (the window, ornat-cli) opens as
// its serial port: the master's line settings are read from it, and the slave's opens
// and closes are seen through inotify. With --device, a real serial port, set to the
// line speed of the first detector. With --listen, a TCP client of a listening socket,
// as a serial device server's: the line runs at the server's own speed whatever the
// detectors are told, and the client's connect and leave are the port's open and close.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "model/modbus_crc.h"
#include "tcp_listener.h"

namespace ornat::sim {

class LineEnd {
 public:
  LineEnd() = default;
  LineEnd(const LineEnd&) = delete;
  LineEnd& operator=(const LineEnd&) = delete;
  ~LineEnd();

  // Opens a new pty, raw at 9600 bit/s until the master sets its own line. False with
  // `error` ("openpty: ...") on failure.
  bool OpenPty(std::string& error);
  // Opens the serial port at `path`, raw at `bit_rate`. False with `error` on failure.
  bool OpenDevice(const std::string& path, std::uint32_t bit_rate, std::string& error);

  // Listens as `url` says, the line at `bit_rate` for good. False with `error`.
  bool Listen(const PortUrl& url, std::uint32_t bit_rate, std::string& error);

  bool pty() const { return pty_; }
  bool tcp() const { return listener_.fd() >= 0; }
  // A pty's slave end or a TCP client comes and goes; a real port stays.
  bool has_peer_events() const { return pty_ || tcp(); }
  // The line's descriptor; on TCP the client's (-1 while none is connected).
  int fd() const { return fd_; }
  // The listening address as bound ("tcp://127.0.0.1:40123").
  const std::string& listen_url() const { return listener_.url(); }
  // The client has gone (end of its stream or an error): the next one may come.
  void DropClient();
  // The pty's slave device ("/dev/pts/N"), which the master opens.
  const std::string& slave_path() const { return slave_path_; }
  // The descriptor that tells the slave's opens and closes (-1: none, the line is
  // rechecked instead); on TCP the listening socket while no client is connected.
  int port_events_fd() const;

  // The bit rate the line runs at: on a pty what the master set on its end (a pty that
  // was never set up, or B0, counts as the detector's factory speed, 9600).
  std::uint32_t BitRate() const;
  // A real port follows the first detector to a new speed; a pty stays the master's.
  void FollowSpeed(std::uint32_t bit_rate);
  // True when the line reports a hangup: on a pty, no program has the slave open.
  bool PeerHungUp() const;
  // Writes bytes to the master from `done` on; false when the rest cannot be written,
  // `why` saying why ("overflow": the master does not read and its queue is full).
  bool Write(const Bytes& bytes, std::size_t& done, std::string& why);
  // Every open and close of the slave device since the last call, by whichever
  // program, in order: `on` gets true for an open. On TCP: takes the waiting client,
  // if any (`on` is not called; PeerHungUp tells).
  void ReadPortEvents(const std::function<void(bool opened)>& on);

 private:
  int fd_ = -1;
  int inotify_fd_ = -1;
  bool pty_ = true;
  std::string slave_path_;
  std::uint32_t device_rate_ = 9600;
  TcpListener listener_;
};

}  // namespace ornat::sim
