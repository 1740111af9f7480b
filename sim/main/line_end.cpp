#include "line_end.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "line_speed.h"

namespace ornat::sim {

LineEnd::~LineEnd() {
  for (int fd : {fd_, inotify_fd_}) {
    if (fd >= 0) close(fd);
  }
}

bool LineEnd::OpenPty(std::string& error) {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    error = std::string("openpty: ") + std::strerror(errno);
    return false;
  }
  char name[256];
  if (ptsname_r(master, name, sizeof name) != 0) {
    error = std::string("ptsname: ") + std::strerror(errno);
    close(master);
    close(slave);
    return false;
  }
  slave_path_ = name;
  // Raw 9600 bit/s until the master sets its own line. Our slave descriptor is
  // closed at once: held open, it would keep a master's TIOCEXCL in force across
  // the master's own closes and lock it out of its next open.
  SetRawLine(slave, 9600);
  close(slave);
  fd_ = master;
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  fcntl(fd_, F_SETFD, FD_CLOEXEC);
  // The pty hangs up whenever no program has its slave open; the opens and closes of
  // the slave device wake us instead of a polling loop.
  inotify_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_fd_ >= 0 && inotify_add_watch(inotify_fd_, name, IN_OPEN | IN_CLOSE) < 0) {
    close(inotify_fd_);
    inotify_fd_ = -1;
  }
  return true;
}

bool LineEnd::OpenDevice(const std::string& path, std::uint32_t bit_rate, std::string& error) {
  pty_ = false;
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  device_rate_ = bit_rate;
  if (!SetRawLine(fd_, device_rate_)) {
    error = "cannot set up " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool LineEnd::Listen(const PortUrl& url, std::uint32_t bit_rate, std::string& error) {
  pty_ = false;
  device_rate_ = bit_rate;
  return listener_.Open(url, error);
}

void LineEnd::DropClient() {
  if (tcp() && fd_ >= 0) close(fd_);
  if (tcp()) fd_ = -1;
}

int LineEnd::port_events_fd() const {
  if (tcp()) return fd_ < 0 ? listener_.fd() : -1;
  return inotify_fd_;
}

std::uint32_t LineEnd::BitRate() const {
  if (!pty_) return device_rate_;
  // What the master set on its end; a pty that was never set up, or B0, counts as the
  // detector's factory speed.
  const std::uint32_t rate = ReadLineBitRate(fd_);
  return rate == 0 ? 9600 : rate;
}

void LineEnd::FollowSpeed(std::uint32_t bit_rate) {
  // A device server keeps its own speed: the detector is lost at another one.
  if (!pty_ && !tcp() && SetRawLine(fd_, bit_rate)) device_rate_ = bit_rate;
}

bool LineEnd::PeerHungUp() const {
  if (tcp()) return fd_ < 0;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return false;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool LineEnd::Write(const Bytes& bytes, std::size_t& done, std::string& why) {
  if (fd_ < 0) {
    why = "port-closed";
    return false;
  }
  while (done < bytes.size()) {
    const ssize_t w = tcp() ? send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                            : write(fd_, bytes.data() + done, bytes.size() - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    // The master does not read and its input queue is full: the rest is lost.
    why = w < 0 && errno == EAGAIN ? "overflow" : "write-failed";
    return false;
  }
  return true;
}

void LineEnd::ReadPortEvents(const std::function<void(bool opened)>& on) {
  if (tcp()) {
    if (fd_ < 0) fd_ = listener_.Accept();
    return;
  }
  // Every open and close of the slave device, by whichever program, in order.
  alignas(inotify_event) char buf[4096];
  for (;;) {
    const ssize_t got = read(inotify_fd_, buf, sizeof buf);
    if (got <= 0) return;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event ev;
      std::memcpy(&ev, buf + at, sizeof ev);
      if (ev.mask & IN_OPEN) on(true);
      if (ev.mask & IN_CLOSE) on(false);
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev.len);
    }
  }
}

}  // namespace ornat::sim
