#pragma once
// Registration of a virtual serial port: a symbolic link named after the port, in the
// folder that the window's port discovery reads, pointing at the device that serves
// it: $XDG_RUNTIME_DIR/ornat/ports/NAME, or /tmp/ornat-UID/ports/NAME where
// XDG_RUNTIME_DIR is unset; and beside it the name's lock (ornat/locks/NAME), held
// for as long as this process lives, without which readers take the link as stale
// (serial/platform/posix_port_registry.h).

#include <filesystem>
#include <string>

namespace ornat::sim {

// The ports folder for the current user, created (mode 0700) when missing. Refuses a
// /tmp/ornat-UID that is not a real folder of this user, since another user could
// otherwise make our links point where they like. Empty path and `error` set on
// failure.
std::filesystem::path PortsDirectory(std::string& error);

// True when `name` can be a link name: not empty, no '/', not "." or "..", no control
// characters.
bool IsValidPortName(const std::string& name);

class PortRegistration {
 public:
  PortRegistration() = default;
  PortRegistration(const PortRegistration&) = delete;
  PortRegistration& operator=(const PortRegistration&) = delete;
  ~PortRegistration() { Remove(); }

  // Takes the name's lock, writes this process's id and `target` into it, then creates
  // (or atomically replaces a stale) link `name` -> `target`. Refused, with `error`
  // naming it, while another running provider holds the name.
  bool Create(const std::string& name, const std::string& target, std::string& error);

  // Removes the link if it still points at our target, then the lock file, and gives
  // up the lock. Safe to call more than once.
  void Remove();

  const std::filesystem::path& link() const { return link_; }

 private:
  std::filesystem::path link_;
  std::string target_;
  std::string lock_path_;
  int lock_fd_ = -1;
};

}  // namespace ornat::sim
