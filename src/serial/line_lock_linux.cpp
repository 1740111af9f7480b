// The line lock on Linux: a POSIX record lock (F_SETLK) on <runtime>/ornat/lines/<line>.
// A record lock, not flock or an open-file-description lock: it belongs to the process,
// so a child made by fork() never inherits it, and the kernel tells a refused taker who
// holds it (F_GETLK gives the pid). The file holds the holder's record ("<pid>\n<what it
// runs>\n"), written right after the lock is taken; a refused taker reads it until its
// pid is the one the kernel names, and falls back on the holder's command line. The
// files stay: removing one could part two takers that opened it before and after.

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "serial/line_lock_platform.h"
#include "serial/platform/posix_port_names.h"

namespace ornat::line_lock_platform {

namespace {

using Clock = std::chrono::steady_clock;

// How long a refused taker waits for the holder's record: the holder writes it within
// microseconds of taking the lock.
constexpr auto kRecordWait = std::chrono::milliseconds(250);

std::string ParentOf(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const std::size_t slash = dir.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : dir.substr(0, slash);
}

// mkdir that accepts a folder that is there. In the shared /tmp a folder must be ours
// and writable by nobody else, or another user could read or plant records.
int MakeFolder(const std::string& dir, bool shared) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (shared && (st.st_uid != ::getuid() || (st.st_mode & 022) != 0)) return EPERM;
  return 0;
}

// The lines folder beside the virtual-port registry; "" and `error` when it cannot be
// had. Made and checked once per process and folder (`made`, under the count's mutex), not
// at every take; forget_made: it has gone since (a cleaner of /tmp).
std::string LinesFolder(int& error, bool forget_made = false) {
  static std::string made;
  if (forget_made) made.clear();
  const std::string base = ParentOf(VirtualPortsDirectory());
  if (made == base + "/lines") return made;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  const bool shared = xdg == nullptr || *xdg == '\0';
  for (const std::string& dir : {base, base + "/lines"}) {
    if ((error = MakeFolder(dir, shared)) != 0) return "";
  }
  return made = base + "/lines";
}

std::string ReadAll(int fd) {
  char buf[512];
  ssize_t n;
  do {
    n = ::pread(fd, buf, sizeof buf, 0);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// What a process runs, from its command line: the program's file name and its
// arguments, separated by spaces. "" when it cannot be read.
std::string CommandLineOf(long pid) {
  const int fd =
      ::open(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string text = ReadAll(fd);
  ::close(fd);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  const std::size_t name_end = text.find('\0');
  const std::size_t slash = text.rfind('/', name_end);
  if (slash != std::string::npos) text.erase(0, slash + 1);
  for (char& c : text) {
    if (c == '\0') c = ' ';
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text.substr(0, 200);
}

// The holder of the lock on `fd`'s file, as the kernel and its record tell it; false
// when nobody holds it any more.
bool HolderOf(int fd, LineHolder& holder) {
  const auto until = Clock::now() + kRecordWait;
  for (;;) {
    struct flock probe;
    std::memset(&probe, 0, sizeof probe);
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &probe) != 0) {
      holder = {};
      return true;  // held, as the take said, by someone it cannot tell
    }
    if (probe.l_type == F_UNLCK) return false;
    // l_pid is 0 for a holder in another pid namespace: its record is taken as it is.
    LineHolder record;
    if (ParseRecord(ReadAll(fd), record) && (probe.l_pid <= 0 || record.pid == probe.l_pid)) {
      holder = record;
      return true;
    }
    if (Clock::now() >= until) {
      holder = {probe.l_pid, probe.l_pid > 0 ? CommandLineOf(probe.l_pid) : ""};
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace

std::string Identity(const std::string& port) {
  // The path the device opens, then the node it is: every link to one device (a
  // by-id name, a virtual port's registration) ends at one canonical path.
  const std::string path = ResolvePortPath(port);
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;
}

LineLock::Outcome Lock(const std::string& identity, const std::string& runs, Native& native,
                       LineHolder& holder, int& error) {
  // A holder that lets go between a refused take and the look at it: take again.
  for (int attempt = 0; attempt < 10; ++attempt) {
    const std::string folder = LinesFolder(error, attempt > 0);
    if (folder.empty()) return LineLock::Outcome::kUnavailable;
    const std::string path = folder + "/" + FileNameOf(identity);
    // O_NONBLOCK: nothing put in the file's place (a FIFO) may make this wait.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0 && errno == ENOENT && attempt == 0) continue;  // the folder has gone
    if (fd < 0) {
      error = errno;
      return LineLock::Outcome::kUnavailable;
    }
    struct stat st {};
    const bool looked = ::fstat(fd, &st) == 0;
    if (!looked || !S_ISREG(st.st_mode)) {
      error = looked ? EINVAL : errno;
      ::close(fd);
      return LineLock::Outcome::kUnavailable;
    }
    struct flock lock;
    std::memset(&lock, 0, sizeof lock);
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;  // the whole file, however long it grows
    if (::fcntl(fd, F_SETLK, &lock) == 0) {
      // Written over the old record, then cut to length: the file is never empty, and
      // a reader that catches it half written finds the old pid, not the kernel's. The
      // record this process wrote last time is left as it is (a write costs a journal
      // entry of the file system at every exchange).
      const std::string record = FormatRecord(static_cast<long>(::getpid()), runs);
      if (ReadAll(fd) != record &&
          ::pwrite(fd, record.data(), record.size(), 0) == static_cast<ssize_t>(record.size()))
        (void)!::ftruncate(fd, static_cast<off_t>(record.size()));
      native = fd;
      return LineLock::Outcome::kTaken;
    }
    const int e = errno;
    if (e != EAGAIN && e != EACCES) {
      ::close(fd);
      error = e;
      return LineLock::Outcome::kUnavailable;
    }
    const bool held = HolderOf(fd, holder);
    ::close(fd);
    if (held) return LineLock::Outcome::kInUse;
  }
  holder = {};
  return LineLock::Outcome::kInUse;
}

void Unlock(Native native) {
  // Closing the process's descriptor of the file lets its record lock go.
  ::close(static_cast<int>(native));
}

void AtFork(void (*prepare)(), void (*parent)(), void (*child)()) {
  ::pthread_atfork(prepare, parent, child);
}

std::string ProgramName() {
  return program_invocation_short_name;
}

int InUseError() {
  return EBUSY;
}

}  // namespace ornat::line_lock_platform
