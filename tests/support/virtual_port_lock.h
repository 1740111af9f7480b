#pragma once
// HeldRegistration: a virtual port's registration as a live provider keeps it, made by
// the test itself: the link <ports>/NAME -> target and the name's lock file, held
// (an open-file-description lock) until the object is destroyed or Release() is
// called, as when the provider ends. Header-only.
//
//   HeldRegistration reg(ports_dir, "ornat-sim", "/dev/pts/7");
//   ... LiveVirtualPort(ports_dir, "ornat-sim") == "/dev/pts/7"
//   reg.Release();  // the provider is gone: the link stays, stale

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "serial/platform/posix_port_registry.h"

namespace ornat::testing {

class HeldRegistration {
 public:
  // `locked_target` is what the lock file names (the link's target unless a test wants
  // them to differ); `link` false: the lock alone.
  HeldRegistration(const std::string& ports_dir, const std::string& name, const std::string& target,
                   const std::string& locked_target = "", bool link = true) {
    const std::string lock_path = VirtualPortLockPath(ports_dir, name);
    std::filesystem::create_directories(std::filesystem::path(lock_path).parent_path());
    std::filesystem::create_directories(ports_dir);
    fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    struct flock lock;
    std::memset(&lock, 0, sizeof lock);
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const std::string content =
        FormatVirtualPortLock(::getpid(), locked_target.empty() ? target : locked_target);
    if (::fcntl(fd_, F_OFD_SETLK, &lock) != 0 ||
        ::write(fd_, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
      Release();
      return;
    }
    if (link) {
      std::error_code ec;
      std::filesystem::create_symlink(target, ports_dir + "/" + name, ec);
      if (ec) Release();
    }
  }
  ~HeldRegistration() { Release(); }
  HeldRegistration(const HeldRegistration&) = delete;
  HeldRegistration& operator=(const HeldRegistration&) = delete;

  bool Held() const { return fd_ >= 0; }
  // The provider ends without cleaning up: its lock goes, its files stay.
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace ornat::testing
