#pragma once
// Who else has a serial device open, found the way fuser finds it, but without ever
// touching what other processes hold: every /proc/<pid>/fd/<n> is read as a link's
// text (the kernel's path of the open file), and a text equal to the canonical path of
// our node is a hold. No stat or open of those files: one on a hung NFS or FUSE
// mount would block the look, and the open of the port with it. The name comes from
// /proc/<pid>/comm.

#include <functional>
#include <string>
#include <vector>

#include "serial/platform/comm_device.h"
#include "serial/platform/posix_syscalls.h"

namespace ornat {

// A device node as the look for holders sees it: its canonical path, which is the
// text of the /proc/<pid>/fd links of every process that has it open, and for a
// pty's slave the pty's number (-1 for any other device).
struct DeviceNode {
  std::string path;
  int pty_index = -1;
  bool operator==(const DeviceNode&) const = default;
};

// The processes other than this one that have a node open: LookForHolders by default;
// tests script it.
using HolderLook = std::function<std::vector<PortHolder>(const DeviceNode& node)>;

// The processes under `proc_root` (normally "/proc") other than `self_pid` that have
// `node` open, each once, ordered by process id. For a pty's slave, a process that
// also holds the master of that pty (a /dev/ptmx or /dev/pts/ptmx descriptor whose
// fdinfo gives its tty-index) is the pty's provider and is not reported. Only what
// can be seen is reported: a process whose fd folder cannot be read (another user's,
// without privileges) or that ends while it is looked at is passed over, and a
// `proc_root` that cannot be listed gives nobody; the look itself never fails.
// Control characters of a name read as '?'; a name that cannot be read is empty.
std::vector<PortHolder> FindDeviceHolders(const PosixSyscalls& sys, const std::string& proc_root,
                                          const DeviceNode& node, int self_pid);

// FindDeviceHolders over /proc, passing over this process.
std::vector<PortHolder> LookForHolders(const PosixSyscalls& sys, const DeviceNode& node);

// The pty number of an fdinfo text's "tty-index:" line, -1 when it has none.
int TtyIndexOfFdinfo(const std::string& fdinfo);

}  // namespace ornat
