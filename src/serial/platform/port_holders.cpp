#include "serial/platform/port_holders.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace ornat {

namespace {

// A process folder is named by its id alone; /proc also holds "self", "net", ...
int ParsePid(const std::string& entry) {
  if (entry.empty() || entry.size() > 9) return 0;
  int pid = 0;
  for (char c : entry) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

std::string ReadName(const PosixSyscalls& sys, const std::string& path) {
  int f;
  do {
    f = sys.open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (f < 0 && errno == EINTR);
  if (f < 0) return {};
  char buf[64];
  long n;
  do {
    n = sys.read(f, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  sys.close(f);
  if (n <= 0) return {};
  std::string name(buf, static_cast<std::size_t>(n));
  if (name.back() == '\n') name.pop_back();
  // A program may call itself anything; its name ends up in a message box and a log.
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name;
}

}  // namespace

std::vector<PortHolder> FindDeviceHolders(const PosixSyscalls& sys, const std::string& proc_root,
                                          std::uint64_t rdev, int self_pid) {
  std::vector<PortHolder> holders;
  std::vector<std::string> entries;
  if (sys.list_dir(proc_root.c_str(), entries) != 0) return holders;
  for (const std::string& entry : entries) {
    const int pid = ParsePid(entry);
    if (pid <= 0 || pid == self_pid) continue;
    const std::string process = proc_root + "/" + entry;
    std::vector<std::string> fds;
    if (sys.list_dir((process + "/fd").c_str(), fds) != 0) continue;
    for (const std::string& fd : fds) {
      struct stat st {};
      if (sys.stat((process + "/fd/" + fd).c_str(), &st) != 0) continue;  // closed meanwhile
      if (S_ISCHR(st.st_mode) && static_cast<std::uint64_t>(st.st_rdev) == rdev) {
        holders.push_back({pid, ReadName(sys, process + "/comm")});
        break;
      }
    }
  }
  std::sort(holders.begin(), holders.end(),
            [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
  return holders;
}

}  // namespace ornat
