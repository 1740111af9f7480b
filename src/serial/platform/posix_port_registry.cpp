#include "serial/platform/posix_port_registry.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace ornat {

namespace {

std::string ParentOf(const std::string& dir) {
  std::string d = dir;
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  const std::size_t slash = d.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return d.substr(0, slash);
}

// The lock file's content while somebody holds its lock; nullopt otherwise.
std::optional<std::string> HeldLockContent(const PosixSyscalls& sys, const std::string& lock_path) {
  // O_NONBLOCK: the path is in the user's own folder, yet nothing there may make a
  // port list wait (a FIFO put in its place).
  const int fd = sys.open(lock_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> content;
  struct stat st {};
  if (sys.fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    struct flock probe;
    std::memset(&probe, 0, sizeof probe);
    probe.l_type = F_RDLCK;  // conflicts with the provider's write lock
    probe.l_whence = SEEK_SET;
    if (sys.fcntl_lock(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
      char buf[PATH_MAX + 32];
      const long n = RetryOnInterrupt([&] { return sys.read(fd, buf, sizeof buf); });
      if (n > 0) content = std::string(buf, static_cast<std::size_t>(n));
    }
  }
  sys.close(fd);
  return content;
}

}  // namespace

std::string VirtualPortLockPath(const std::string& ports_dir, const std::string& name) {
  return ParentOf(ports_dir) + "/locks/" + name;
}

std::string FormatVirtualPortLock(long pid, const std::string& target) {
  return std::to_string(pid) + " " + target + "\n";
}

bool ParseVirtualPortLock(const std::string& text, long& pid, std::string& target) {
  const std::size_t space = text.find(' ');
  if (space == std::string::npos || space == 0 || text.empty() || text.back() != '\n') return false;
  long p = 0;
  for (std::size_t i = 0; i < space; ++i) {
    if (text[i] < '0' || text[i] > '9' || p > 100000000L) return false;
    p = p * 10 + (text[i] - '0');
  }
  std::string t = text.substr(space + 1, text.size() - space - 2);
  if (t.empty() || t.find('\n') != std::string::npos) return false;
  pid = p;
  target = std::move(t);
  return true;
}

std::optional<long> VirtualPortLockHolder(const std::string& lock_path, const PosixSyscalls& sys) {
  const std::optional<std::string> content = HeldLockContent(sys, lock_path);
  long pid = 0;
  std::string target;
  if (!content || !ParseVirtualPortLock(*content, pid, target)) return std::nullopt;
  return pid;
}

std::optional<std::string> LiveVirtualPort(const std::string& ports_dir, const std::string& name,
                                           const PosixSyscalls& sys) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return std::nullopt;
  const std::string link = ports_dir + "/" + name;
  std::string target;
  if (sys.readlink(link.c_str(), target) != 0 || target.empty()) return std::nullopt;  // no link
  struct stat st {};
  if (sys.stat(link.c_str(), &st) != 0) return std::nullopt;  // its pty is gone
  const std::optional<std::string> content =
      HeldLockContent(sys, VirtualPortLockPath(ports_dir, name));
  long pid = 0;
  std::string locked_target;
  if (!content || !ParseVirtualPortLock(*content, pid, locked_target)) return std::nullopt;
  // The provider that holds the name registered this very pty.
  if (locked_target != target) return std::nullopt;
  return target;
}

}  // namespace ornat
