#include "port_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "serial/platform/posix_port_registry.h"

namespace ornat::sim {
namespace {

// mkdir that accepts an existing folder; for folders we own, checks what is there.
bool MakeFolder(const std::filesystem::path& dir, bool must_be_ours, std::string& error) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + dir.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) {
    error = "cannot inspect " + dir.string() + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = dir.string() + " is not a folder";
    return false;
  }
  if (must_be_ours && (st.st_uid != getuid() || (st.st_mode & 022) != 0)) {
    error = dir.string() + " belongs to another user or is writable by others";
    return false;
  }
  return true;
}

}  // namespace

std::filesystem::path PortsDirectory(std::string& error) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::filesystem::path base;
  bool shared_tmp = false;
  if (runtime && *runtime) {
    base = std::filesystem::path(runtime) / "ornat";
  } else {
    base = std::filesystem::path("/tmp") / ("ornat-" + std::to_string(getuid()));
    shared_tmp = true;
  }
  if (!MakeFolder(base, shared_tmp, error)) return {};
  const std::filesystem::path ports = base / "ports";
  if (!MakeFolder(ports, shared_tmp, error)) return {};
  if (!MakeFolder(base / "locks", shared_tmp, error)) return {};
  return ports;
}

bool IsValidPortName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 200) return false;
  for (unsigned char c : name) {
    if (c == '/' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

namespace {

bool SameFile(int fd, const std::string& path) {
  struct stat a {
  }, b{};
  return fstat(fd, &a) == 0 && lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// The name's lock, held by the returned descriptor; -1 and `error` when another
// provider holds it or the file cannot be had.
int TakeLock(const std::string& name, const std::string& path, std::string& error) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      error = "cannot create " + path + ": " + std::strerror(errno);
      return -1;
    }
    struct flock lock;
    std::memset(&lock, 0, sizeof lock);
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    // An open-file-description lock: it goes when this process ends, however it ends.
    if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
      const int e = errno;
      close(fd);
      if (e == EAGAIN || e == EACCES) {
        const std::optional<long> pid = VirtualPortLockHolder(path);
        error = "the port name '" + name + "' is registered by another running ornat-sim" +
                (pid ? " (pid " + std::to_string(*pid) + ")" : std::string()) +
                "; choose another with --name";
      } else {
        error = "cannot lock " + path + ": " + std::strerror(e);
      }
      return -1;
    }
    // The provider that held it may have removed the file as it ended: a lock on a
    // removed file holds nothing.
    if (SameFile(fd, path)) return fd;
    close(fd);
  }
  error = "cannot lock " + path + ": it keeps being replaced";
  return -1;
}

}  // namespace

bool PortRegistration::Create(const std::string& name, const std::string& target,
                              std::string& error) {
  if (!IsValidPortName(name)) {
    error = "invalid port name '" + name + "'";
    return false;
  }
  const std::filesystem::path dir = PortsDirectory(error);
  if (dir.empty()) return false;
  const std::string lock_path = VirtualPortLockPath(dir.string(), name);
  const int lock_fd = TakeLock(name, lock_path, error);
  if (lock_fd < 0) return false;
  const std::string content = FormatVirtualPortLock(getpid(), target);
  if (ftruncate(lock_fd, 0) != 0 ||
      pwrite(lock_fd, content.data(), content.size(), 0) != static_cast<ssize_t>(content.size())) {
    error = "cannot write " + lock_path + ": " + std::strerror(errno);
    unlink(lock_path.c_str());
    close(lock_fd);
    return false;
  }
  // Build the link under a temporary name and rename it into place, so a reader never
  // sees the name missing or half made. A link left by a provider that ended is
  // replaced; none of a live one can be there, as it would hold the lock.
  const std::filesystem::path link = dir / name;
  const std::filesystem::path tmp = dir / ("." + name + ".tmp." + std::to_string(getpid()));
  unlink(tmp.c_str());
  if (symlink(target.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0) {
    error = "cannot create link " + link.string() + ": " + std::strerror(errno);
    unlink(tmp.c_str());
    unlink(lock_path.c_str());
    close(lock_fd);
    return false;
  }
  link_ = link;
  target_ = target;
  lock_path_ = lock_path;
  lock_fd_ = lock_fd;
  return true;
}

void PortRegistration::Remove() {
  if (!link_.empty()) {
    char now[4096];
    const ssize_t n = readlink(link_.c_str(), now, sizeof now - 1);
    if (n > 0) {
      now[n] = '\0';
      if (target_ == now) unlink(link_.c_str());
    }
    link_.clear();
  }
  if (lock_fd_ >= 0) {
    // Removed while still held, so that no one else can have taken it meanwhile.
    if (SameFile(lock_fd_, lock_path_)) unlink(lock_path_.c_str());
    close(lock_fd_);
    lock_fd_ = -1;
  }
}

}  // namespace ornat::sim
