#include "port_registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
  return ports;
}

bool IsValidPortName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 200) return false;
  for (unsigned char c : name) {
    if (c == '/' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool PortRegistration::Create(const std::string& name, const std::string& target,
                              bool& replaced_live, std::string& error) {
  replaced_live = false;
  if (!IsValidPortName(name)) {
    error = "invalid port name '" + name + "'";
    return false;
  }
  const std::filesystem::path dir = PortsDirectory(error);
  if (dir.empty()) return false;
  const std::filesystem::path link = dir / name;
  char old[4096];
  const ssize_t n = readlink(link.c_str(), old, sizeof old - 1);
  if (n > 0) {
    old[n] = '\0';
    struct stat st {};
    replaced_live = target != old && stat(old, &st) == 0;
  }
  // Build the link under a temporary name and rename it into place, so a reader never
  // sees the name missing or half made.
  const std::filesystem::path tmp = dir / ("." + name + ".tmp." + std::to_string(getpid()));
  unlink(tmp.c_str());
  if (symlink(target.c_str(), tmp.c_str()) != 0) {
    error = "cannot create link " + tmp.string() + ": " + std::strerror(errno);
    return false;
  }
  if (rename(tmp.c_str(), link.c_str()) != 0) {
    error = "cannot create link " + link.string() + ": " + std::strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  link_ = link;
  target_ = target;
  return true;
}

void PortRegistration::Remove() {
  if (link_.empty()) return;
  char now[4096];
  const ssize_t n = readlink(link_.c_str(), now, sizeof now - 1);
  if (n > 0) {
    now[n] = '\0';
    if (target_ == now) unlink(link_.c_str());
  }
  link_.clear();
}

}  // namespace ornat::sim
