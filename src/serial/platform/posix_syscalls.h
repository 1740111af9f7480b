#pragma once
// PosixSyscalls: the system-call seam of the POSIX serial layer. Every system call of
// the device, its port-name resolution, the look for holders and the virtual-port
// registry goes through this table, so tests can make any call fail with EINTR,
// EAGAIN, EIO... Each entry is one system call (or the libc wrapper of one) and
// returns what the libc call returns, leaving errno set on failure; retrying EINTR,
// and every decision, belongs to the callers. Real() holds the libc calls.

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct flock;
struct pollfd;
struct stat;
struct termios;

namespace ornat {

struct PosixSyscalls {
  std::function<int(const char* path, int flags)> open;
  std::function<int(int fd)> close;
  std::function<long(int fd, void* buf, unsigned long n)> read;
  std::function<long(int fd, const void* buf, unsigned long n)> write;
  // ppoll with a relative timeout in nanoseconds, -1 for none; fds is a pollfd[].
  std::function<int(struct pollfd* fds, unsigned long nfds, long long timeout_ns)> poll;
  std::function<int(int fd, unsigned long request, void* arg)> ioctl;
  std::function<int(int fd, int operation)> flock;
  // fcntl with a lock record (F_OFD_GETLK...).
  std::function<int(int fd, int cmd, struct flock* lock)> fcntl_lock;
  std::function<int(int fd, int queue)> tcflush;
  std::function<int(int fd, struct termios* t)> tcgetattr;
  std::function<int(int fd, const struct termios* t)> tcsetattr;  // TCSANOW
  // termios2 (ioctl TCGETS2, TCSETS2; <asm/termbits.h> cannot share a file with
  // <termios.h>): sets both directions' rate to any value with BOTHER, and reads the
  // output rate back.
  std::function<int(int fd, std::uint32_t bits_per_second)> set_speed;
  std::function<int(int fd, std::uint32_t& bits_per_second)> get_speed;
  std::function<int(unsigned int initval, int flags)> eventfd;
  std::function<int(int fd, struct stat* st)> fstat;
  // stat of our own device's path (follows links); never of another process's file.
  std::function<int(const char* path, struct stat* st)> stat;
  // The text of a symbolic link, not followed.
  std::function<int(const char* path, std::string& text)> readlink;
  // opendir/readdir/closedir: the entry names of a folder but "." and "..".
  std::function<int(const char* path, std::vector<std::string>& names)> list_dir;
  // The entries of a folder of symbolic links with each link's text, not followed
  // (opendir, readlinkat): /proc/<pid>/fd gives the path of every open file without
  // touching any of them. An entry that vanishes while it is read is left out.
  std::function<int(const char* dir, std::vector<std::pair<std::string, std::string>>& links)>
      read_links;
  // The canonical path (realpath) of our device's path.
  std::function<int(const char* path, std::string& resolved)> realpath;
  std::function<int(int flags)> inotify_init1;
  std::function<int(int fd, const char* path, std::uint32_t mask)> inotify_add_watch;
  // The environment's value of a variable, null when it is unset.
  std::function<const char*(const char* name)> getenv;
  std::function<unsigned int()> getuid;
  std::function<int()> getpid;
  static const PosixSyscalls& Real();
};

// The termios2 calls of Real() (termios2_rate.cpp, apart from <termios.h>).
int Termios2SetSpeed(int fd, std::uint32_t bits_per_second);
int Termios2GetSpeed(int fd, std::uint32_t& bits_per_second);
// The output rate of an open tty, 0 when it cannot be read.
std::uint32_t GetTermios2Rate(int fd);

// Wakes a poll on an eventfd (a write of 1, which cannot block short of 2^64-2 pending
// increments), and takes its count back.
void PokeEventfd(const PosixSyscalls& sys, int efd);
void DrainEventfd(const PosixSyscalls& sys, int efd);

// Runs a call again while it fails with EINTR; returns its result with errno left set.
template <typename F>
auto RetryOnInterrupt(F f) {
  for (;;) {
    auto r = f();
    if (!(r < 0 && errno == EINTR)) return r;
  }
}

}  // namespace ornat
