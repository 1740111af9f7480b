#pragma once
// What a port name opens on Linux. A virtual port registered as a symlink in
// $XDG_RUNTIME_DIR/ornat/ports/<name> (or /tmp/ornat-<uid>/ports/<name> when that
// variable is unset) opens its target while the registration lives
// (posix_port_registry.h); any other bare name opens /dev/<name>; a name with a '/' is
// a path as it stands.

#include <string>

#include "serial/platform/posix_syscalls.h"

namespace ornat {

struct PortTarget {
  std::string path;        // what to open
  std::string registered;  // the virtual port's name; empty for any other name
  std::string link_text;   // the registration's link, to check after the open
};

PortTarget ResolvePort(const std::string& name, const PosixSyscalls& sys = PosixSyscalls::Real());
std::string ResolvePortPath(const std::string& name);
// The folder of registered virtual ports (for the port-discovery code).
std::string VirtualPortsDirectory(const PosixSyscalls& sys = PosixSyscalls::Real());

}  // namespace ornat
