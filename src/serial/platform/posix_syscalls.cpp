#include "serial/platform/posix_syscalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace ornat {

const PosixSyscalls& PosixSyscalls::Real() {
  static const PosixSyscalls real = [] {
    PosixSyscalls s;
    s.open = [](const char* path, int flags) { return ::open(path, flags); };
    s.close = [](int fd) { return ::close(fd); };
    s.read = [](int fd, void* buf, unsigned long n) {
      return static_cast<long>(::read(fd, buf, n));
    };
    s.write = [](int fd, const void* buf, unsigned long n) {
      return static_cast<long>(::write(fd, buf, n));
    };
    s.poll = [](struct pollfd* fds, unsigned long nfds, long long timeout_ns) {
      if (timeout_ns < 0) return ::ppoll(fds, nfds, nullptr, nullptr);
      struct timespec ts;
      ts.tv_sec = static_cast<time_t>(timeout_ns / 1000000000LL);
      ts.tv_nsec = static_cast<long>(timeout_ns % 1000000000LL);
      return ::ppoll(fds, nfds, &ts, nullptr);
    };
    s.ioctl = [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); };
    s.flock = [](int fd, int op) { return ::flock(fd, op); };
    s.fcntl_lock = [](int fd, int cmd, struct flock* lock) { return ::fcntl(fd, cmd, lock); };
    s.tcflush = [](int fd, int queue) { return ::tcflush(fd, queue); };
    s.tcgetattr = [](int fd, struct termios* t) { return ::tcgetattr(fd, t); };
    s.tcsetattr = [](int fd, const struct termios* t) { return ::tcsetattr(fd, TCSANOW, t); };
    s.set_speed = Termios2SetSpeed;
    s.get_speed = Termios2GetSpeed;
    s.eventfd = [](unsigned int initval, int flags) { return ::eventfd(initval, flags); };
    s.fstat = [](int fd, struct stat* st) { return ::fstat(fd, st); };
    s.stat = [](const char* path, struct stat* st) { return ::stat(path, st); };
    s.readlink = [](const char* path, std::string& text) {
      char buf[PATH_MAX];
      const ssize_t n = ::readlink(path, buf, sizeof buf - 1);
      if (n < 0) return -1;
      text.assign(buf, static_cast<std::size_t>(n));
      return 0;
    };
    s.list_dir = [](const char* path, std::vector<std::string>& names) {
      DIR* dir = ::opendir(path);
      if (dir == nullptr) return -1;
      names.clear();
      while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
          names.emplace_back(e->d_name);
      }
      ::closedir(dir);
      return 0;
    };
    s.read_links = [](const char* path, std::vector<std::pair<std::string, std::string>>& links) {
      DIR* dir = ::opendir(path);
      if (dir == nullptr) return -1;
      links.clear();
      char buf[PATH_MAX];
      while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;  // "." and ".." (fd names are digits)
        // Relative to the open folder: no walk from / through /proc for each link.
        const ssize_t n = ::readlinkat(::dirfd(dir), e->d_name, buf, sizeof buf);
        if (n >= 0) links.emplace_back(e->d_name, std::string(buf, static_cast<std::size_t>(n)));
      }
      ::closedir(dir);
      return 0;
    };
    s.realpath = [](const char* path, std::string& resolved) {
      char buf[PATH_MAX];
      if (::realpath(path, buf) == nullptr) return -1;
      resolved = buf;
      return 0;
    };
    s.inotify_init1 = [](int flags) { return ::inotify_init1(flags); };
    s.inotify_add_watch = [](int fd, const char* path, std::uint32_t mask) {
      return ::inotify_add_watch(fd, path, mask);
    };
    s.getenv = [](const char* name) -> const char* { return std::getenv(name); };
    s.getuid = [] { return static_cast<unsigned int>(::getuid()); };
    s.getpid = [] { return static_cast<int>(::getpid()); };
    return s;
  }();
  return real;
}

void PokeEventfd(const PosixSyscalls& sys, int efd) {
  if (efd < 0) return;
  std::uint64_t one = 1;
  (void)sys.write(efd, &one, sizeof one);
}

void DrainEventfd(const PosixSyscalls& sys, int efd) {
  std::uint64_t v;
  (void)sys.read(efd, &v, sizeof v);
}

}  // namespace ornat
