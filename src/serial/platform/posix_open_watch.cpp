#include "serial/platform/posix_open_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace ornat {

namespace {

// On the node: every open, and what says it is no longer the node we watch.
constexpr std::uint32_t kNodeMask = IN_OPEN | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
// On its folder: every open inside it (the report that keeps two opens of the node
// apart), and a node of that name removed, created or moved.
constexpr std::uint32_t kFolderMask =
    IN_OPEN | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    folder = ".";
    name = path;
  } else {
    folder = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
}

enum class Drained { kQuiet, kLook, kWatchAgain };

}  // namespace

PosixOpenWatch::PosixOpenWatch(const PosixSyscalls& sys) : sys_(sys) {}

PosixOpenWatch::~PosixOpenWatch() {
  Reset();
}

void PosixOpenWatch::Reset() {
  if (fd_ >= 0) sys_.close(fd_);
  fd_ = -1;
  node_wd_ = folder_wd_ = -1;
  node_.clear();
  name_.clear();
  dev_ = ino_ = 0;
  own_opens_ = 0;
  look_needed_ = true;
}

void PosixOpenWatch::Prepare(const std::string& node) {
  if (fd_ >= 0 && node == node_) return;
  Reset();
  std::string folder, name;
  SplitPath(node, folder, name);
  if (name.empty()) return;
  const int fd = sys_.inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return;  // EMFILE: too many instances; every open looks
  struct stat before {
  }, after{};
  int folder_wd = -1, node_wd = -1;
  // The node as it is before and after its watch is set: the same inode both times,
  // or it was replaced meanwhile and the watch may be on the old one.
  const bool set = sys_.stat(node.c_str(), &before) == 0 &&
                   (folder_wd = sys_.inotify_add_watch(fd, folder.c_str(), kFolderMask)) >= 0 &&
                   (node_wd = sys_.inotify_add_watch(fd, node.c_str(), kNodeMask)) >= 0 &&
                   sys_.stat(node.c_str(), &after) == 0 && before.st_dev == after.st_dev &&
                   before.st_ino == after.st_ino;
  if (!set) {  // ENOSPC: too many watches; every open looks
    sys_.close(fd);
    return;
  }
  fd_ = fd;
  node_wd_ = node_wd;
  folder_wd_ = folder_wd;
  node_ = node;
  name_ = name;
  dev_ = static_cast<std::uint64_t>(after.st_dev);
  ino_ = static_cast<std::uint64_t>(after.st_ino);
}

bool PosixOpenWatch::Drain() {
  Drained verdict = Drained::kQuiet;
  auto worse = [&](Drained d) {
    if (static_cast<int>(d) > static_cast<int>(verdict)) verdict = d;
  };
  int node_opens = 0;
  alignas(struct inotify_event) char buf[8192];
  for (;;) {
    const long n = sys_.read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {  // the instance itself failed: start over
      worse(Drained::kWatchAgain);
      break;
    }
    for (long at = 0; at + static_cast<long>(sizeof(struct inotify_event)) <= n;) {
      struct inotify_event ev;
      std::memcpy(&ev, buf + at, sizeof ev);
      const char* name = buf + at + sizeof ev;
      const long size = static_cast<long>(sizeof ev + ev.len);
      if (at + size > n) break;
      at += size;
      if (ev.mask & IN_Q_OVERFLOW) worse(Drained::kLook);  // reports were lost
      if (ev.wd == node_wd_) {
        if (ev.mask & IN_OPEN) ++node_opens;
        if (ev.mask & IN_ATTRIB) worse(Drained::kLook);
        if (ev.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) worse(Drained::kWatchAgain);
      } else if (ev.wd == folder_wd_) {
        if (ev.mask & IN_IGNORED) worse(Drained::kWatchAgain);
        if ((ev.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) && ev.len > 0 &&
            name_ == std::string(name, ::strnlen(name, ev.len)))
          worse(Drained::kWatchAgain);
      }
    }
  }
  // An open that is not one of ours; or fewer than ours, which the kernel does not
  // do unless reports were lost.
  if (node_opens != own_opens_) worse(Drained::kLook);
  own_opens_ = 0;
  if (verdict == Drained::kWatchAgain) {
    const std::string node = node_;
    Reset();
    Prepare(node);
    return false;
  }
  return verdict == Drained::kQuiet;
}

bool PosixOpenWatch::LookNeeded(std::uint64_t dev, std::uint64_t ino) {
  if (fd_ < 0) return true;
  if (!Drain()) look_needed_ = true;
  if (fd_ >= 0 && (dev != dev_ || ino != ino_)) {
    // What we opened is not the node the watch is on: watch what is there now.
    const std::string node = node_;
    Reset();
    Prepare(node);
  }
  return look_needed_;
}

void PosixOpenWatch::LookFoundNobody() {
  if (fd_ >= 0) look_needed_ = false;
}

}  // namespace ornat
