#pragma once
// Virtual serial ports that a running provider (ornat-sim) registers, and how a name
// is tied to the provider's life.
//
// The provider of port NAME keeps, for as long as it lives:
//   <ports>/NAME          a symbolic link to its pty (what older readers follow);
//   <ports>/../locks/NAME a file holding "PID TARGET\n" with an open-file-description
//                         write lock on it (fcntl F_OFD_SETLK).
// The kernel drops the lock when the provider ends, however it ends (SIGKILL too),
// so a link left behind by a killed provider is stale even when another provider
// has since been given the same pty number: the name never leads to someone else's
// pty. Process ids are not trusted for that (they are reused); the PID in the file
// only names the provider in messages.

#include <optional>
#include <string>

#include "serial/platform/posix_syscalls.h"

namespace ornat {

// The lock file of a registration: <ports_dir>/../locks/<name>.
std::string VirtualPortLockPath(const std::string& ports_dir, const std::string& name);

// The content of a lock file, and back. Parse gives false for anything else.
std::string FormatVirtualPortLock(long pid, const std::string& target);
bool ParseVirtualPortLock(const std::string& text, long& pid, std::string& target);

// The pid written in a registration's lock file while a live provider holds its lock,
// else nullopt (no file, nobody holds it, unreadable). Does not take the lock.
std::optional<long> VirtualPortLockHolder(const std::string& lock_path,
                                          const PosixSyscalls& sys = PosixSyscalls::Real());

// The target of <ports_dir>/<name> when it is a live registration: a symbolic link
// whose target exists, whose lock is held, and whose lock names that same target.
// nullopt for a name that is not registered or is stale. Takes no lock: a provider
// that registers at the same moment is never disturbed.
std::optional<std::string> LiveVirtualPort(const std::string& ports_dir, const std::string& name,
                                           const PosixSyscalls& sys = PosixSyscalls::Real());

}  // namespace ornat
