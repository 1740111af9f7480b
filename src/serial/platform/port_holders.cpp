#include "serial/platform/port_holders.h"

#include <fcntl.h>

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

// A small /proc file, whole (empty when it cannot be read).
std::string ReadProcFile(const PosixSyscalls& sys, const std::string& path, std::size_t limit) {
  int f;
  do {
    f = sys.open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (f < 0 && errno == EINTR);
  if (f < 0) return {};
  std::string text;
  char buf[512];
  while (text.size() < limit) {
    const long n = sys.read(f, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  sys.close(f);
  return text;
}

std::string ReadName(const PosixSyscalls& sys, const std::string& path) {
  std::string name = ReadProcFile(sys, path, 64);
  if (name.size() > 64) name.resize(64);
  if (!name.empty() && name.back() == '\n') name.pop_back();
  // A program may call itself anything; its name ends up in a message box and a log.
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name;
}

// The master side of a pty, as the link of a descriptor names it: the multiplexer
// opened through /dev or through the devpts folder itself.
bool IsPtyMultiplexer(const std::string& text) {
  return text == "/dev/ptmx" || text == "/dev/pts/ptmx";
}

}  // namespace

std::vector<PortHolder> LookForHolders(const PosixSyscalls& sys, const DeviceNode& node) {
  return FindDeviceHolders(sys, "/proc", node, sys.getpid());
}

int TtyIndexOfFdinfo(const std::string& fdinfo) {
  static const std::string kKey = "tty-index:";
  std::size_t at = 0;
  while ((at = fdinfo.find(kKey, at)) != std::string::npos) {
    if (at == 0 || fdinfo[at - 1] == '\n') {
      std::size_t i = at + kKey.size();
      while (i < fdinfo.size() && (fdinfo[i] == ' ' || fdinfo[i] == '\t')) ++i;
      long index = -1;
      for (; i < fdinfo.size() && fdinfo[i] >= '0' && fdinfo[i] <= '9'; ++i) {
        index = (index < 0 ? 0 : index * 10) + (fdinfo[i] - '0');
        if (index > (1L << 20)) return -1;
      }
      return static_cast<int>(index);
    }
    at += kKey.size();
  }
  return -1;
}

std::vector<PortHolder> FindDeviceHolders(const PosixSyscalls& sys, const std::string& proc_root,
                                          const DeviceNode& node, int self_pid) {
  std::vector<PortHolder> holders;
  std::vector<std::string> entries;
  if (node.path.empty() || sys.list_dir(proc_root.c_str(), entries) != 0) return holders;
  std::vector<std::pair<std::string, std::string>> fds;
  for (const std::string& entry : entries) {
    const int pid = ParsePid(entry);
    if (pid <= 0 || pid == self_pid) continue;
    const std::string process = proc_root + "/" + entry;
    if (sys.read_links((process + "/fd").c_str(), fds) != 0) continue;
    bool holds = false, provides = false;
    for (const auto& [fd, text] : fds) {
      if (text == node.path) {
        holds = true;
      } else if (node.pty_index >= 0 && !provides && IsPtyMultiplexer(text)) {
        const std::string info = ReadProcFile(sys, process + "/fdinfo/" + fd, 4096);
        provides = TtyIndexOfFdinfo(info) == node.pty_index;
      }
    }
    if (holds && !provides) holders.push_back({pid, ReadName(sys, process + "/comm")});
  }
  std::sort(holders.begin(), holders.end(),
            [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
  return holders;
}

}  // namespace ornat
