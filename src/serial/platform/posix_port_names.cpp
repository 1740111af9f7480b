#include "serial/platform/posix_port_names.h"

#include <optional>

#include "serial/platform/posix_port_registry.h"

namespace ornat {

std::string VirtualPortsDirectory(const PosixSyscalls& sys) {
  const char* xdg = sys.getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && *xdg != '\0') return std::string(xdg) + "/ornat/ports";
  return "/tmp/ornat-" + std::to_string(sys.getuid()) + "/ports";
}

PortTarget ResolvePort(const std::string& name, const PosixSyscalls& sys) {
  if (name.find('/') != std::string::npos) return {name, {}, {}};
  const std::string dir = VirtualPortsDirectory(sys);
  // A live registration opens its pty. A stale one (its provider gone, whatever its
  // pty has become since) is skipped: the name then means /dev/<name>.
  if (std::optional<std::string> text = LiveVirtualPort(dir, name, sys)) {
    std::string resolved;
    if (sys.realpath((dir + "/" + name).c_str(), resolved) == 0) return {resolved, name, *text};
  }
  return {"/dev/" + name, {}, {}};
}

std::string ResolvePortPath(const std::string& name) {
  return ResolvePort(name).path;
}

}  // namespace ornat
