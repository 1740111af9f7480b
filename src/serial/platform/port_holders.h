#pragma once
// Who else has a serial device open, found the way fuser finds it: every
// /proc/<pid>/fd/<n> is looked at through its link, and a character device with the
// same device number is a hold. The name comes from /proc/<pid>/comm.

#include <cstdint>
#include <string>
#include <vector>

#include "serial/platform/comm_device.h"
#include "serial/platform/posix_comm_device.h"

namespace ornat {

// The processes under `proc_root` (normally "/proc") other than `self_pid` that have
// the character device `rdev` open, each once, ordered by process id. Only what can
// be seen is reported: a process whose fd folder cannot be read (another user's,
// without privileges) or that ends while it is looked at is passed over, and a
// `proc_root` that cannot be listed gives nobody; the look itself never fails.
// Control characters of a name read as '?'; a name that cannot be read is empty.
std::vector<PortHolder> FindDeviceHolders(const PosixSyscalls& sys, const std::string& proc_root,
                                          std::uint64_t rdev, int self_pid);

}  // namespace ornat
