// Virtual port names tied to the life of their provider: a name is followed only while
// the provider that registered it holds its lock, whatever became of the pty it named.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "serial/platform/port_holders.h"
#include "serial/platform/posix_comm_device.h"
#include "serial/platform/posix_port_registry.h"
#include "support/basic_form.h"
#include "support/virtual_port_lock.h"

namespace ornat {
namespace {

using testing::HeldRegistration;

class Folder {
 public:
  Folder() {
    std::filesystem::create_directories(ports());
    std::filesystem::create_directories(root() + "/ornat/locks");
  }
  const std::string& root() const { return dir_.path(); }
  std::string ports() const { return root() + "/ornat/ports"; }
  std::string lock(const std::string& name) const { return root() + "/ornat/locks/" + name; }
  std::string File(const std::string& name) const {
    const std::string p = root() + "/" + name;
    std::ofstream(p) << "";
    return p;
  }

 private:
  testing::TempDir dir_;
};

TEST(VirtualPortRegistry, TheLockFileSaysWhoRegisteredWhichPty) {
  EXPECT_EQ(VirtualPortLockPath("/run/user/1000/ornat/ports", "ornat-sim"),
            "/run/user/1000/ornat/locks/ornat-sim");
  EXPECT_EQ(VirtualPortLockPath("/tmp/ornat-0/ports/", "x"), "/tmp/ornat-0/locks/x");
  EXPECT_EQ(FormatVirtualPortLock(4242, "/dev/pts/7"), "4242 /dev/pts/7\n");
  struct Case {
    const char* text;
    bool ok;
    long pid;
    const char* target;
  } cases[] = {
      {"4242 /dev/pts/7\n", true, 4242, "/dev/pts/7"},
      {"1 /dev/pts/0\n", true, 1, "/dev/pts/0"},
      {"4242 /dev/pts/7", false, 0, ""},  // cut short while it was written
      {"", false, 0, ""},
      {" /dev/pts/7\n", false, 0, ""},
      {"42x /dev/pts/7\n", false, 0, ""},
      {"4242 \n", false, 0, ""},
      {"4242 /dev/pts/7\n/dev/pts/8\n", false, 0, ""},
      {"99999999999 /dev/pts/7\n", false, 0, ""},
  };
  for (const Case& c : cases) {
    long pid = 0;
    std::string target;
    EXPECT_EQ(ParseVirtualPortLock(c.text, pid, target), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(pid, c.pid);
      EXPECT_EQ(target, c.target);
    }
  }
}

TEST(VirtualPortRegistry, ANameIsFollowedOnlyWhileItsProviderHoldsItsLock) {
  Folder f;
  const std::string pty = f.File("pty");
  const std::string other = f.File("other-pty");
  struct Case {
    const char* what;
    std::function<std::unique_ptr<HeldRegistration>()> make;
    bool release;  // the provider ends
    std::optional<std::string> live;
    bool locked;  // a live provider holds the name's lock
  };
  auto provider = [&](const std::string& target, const std::string& locked = "", bool link = true) {
    return [&f, target, locked, link] {
      return std::make_unique<HeldRegistration>(f.ports(), "p", target, locked, link);
    };
  };
  const Case cases[] = {
      {"a running provider", provider(pty), false, pty, true},
      {"its provider killed", provider(pty), true, std::nullopt, false},
      {"its pty gone", provider(f.root() + "/gone"), false, std::nullopt, true},
      {"the link changed after the provider registered another pty", provider(pty, other), false,
       std::nullopt, true},
      {"a link without a lock (an older provider, or one that ended)",
       [&] {
         std::filesystem::create_symlink(pty, f.ports() + "/p");
         return std::unique_ptr<HeldRegistration>();
       },
       false, std::nullopt, false},
      {"a lock held without its link", provider(pty, "", false), false, std::nullopt, true},
      {"a file in the folder, not a link",
       [&] {
         std::ofstream(f.ports() + "/p") << "";
         return std::unique_ptr<HeldRegistration>();
       },
       false, std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<HeldRegistration> reg = c.make();
    if (reg) {
      ASSERT_TRUE(reg->Held());
    }
    if (c.release) reg->Release();
    EXPECT_EQ(LiveVirtualPort(f.ports(), "p"), c.live);
    EXPECT_EQ(VirtualPortLockHolder(f.lock("p")).has_value(), c.locked);
    reg.reset();
    std::filesystem::remove(f.ports() + "/p");
    std::filesystem::remove(f.lock("p"));
  }
  for (const char* bad : {"", ".", "..", "a/b"})
    EXPECT_EQ(LiveVirtualPort(f.ports(), bad), std::nullopt) << bad;
}

TEST(VirtualPortRegistry, ALockFileThatWouldMakeAReaderWaitIsNoRegistration) {
  Folder f;
  const std::string pty = f.File("pty");
  std::filesystem::create_symlink(pty, f.ports() + "/p");
  // A FIFO in the lock's place: opening it to read would wait for a writer.
  ASSERT_EQ(::mkfifo(f.lock("p").c_str(), 0600), 0);
  EXPECT_EQ(LiveVirtualPort(f.ports(), "p"), std::nullopt);
  EXPECT_EQ(VirtualPortLockHolder(f.lock("p")), std::nullopt);
}

TEST(VirtualPortRegistry, TheLockNamesItsProvidersPidWhileItIsHeld) {
  Folder f;
  HeldRegistration reg(f.ports(), "p", f.File("pty"));
  ASSERT_TRUE(reg.Held());
  EXPECT_EQ(VirtualPortLockHolder(f.lock("p")), std::optional<long>(::getpid()));
  reg.Release();
  EXPECT_EQ(VirtualPortLockHolder(f.lock("p")), std::nullopt);
}

// XDG_RUNTIME_DIR pointed at a folder of the test's, put back afterwards.
class RuntimeDir {
 public:
  explicit RuntimeDir(const std::string& dir) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
  ~RuntimeDir() {
    if (had_)
      ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
  }

 private:
  bool had_ = false;
  std::string saved_;
};

TEST(VirtualPortRegistry, AStaleNameOpensNothingEvenWhenItsPtyServesAnotherProvider) {
  Folder f;
  RuntimeDir runtime(f.root());
  ASSERT_EQ(VirtualPortsDirectory(), f.ports());
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ::close(slave);
  const std::string pty = name;

  auto reg = std::make_unique<HeldRegistration>(f.ports(), "ttyV", pty);
  EXPECT_EQ(ResolvePortPath("ttyV"), pty);
  PosixCommDevice dev;
  ASSERT_EQ(dev.Open("ttyV"), 0);
  EXPECT_EQ(dev.OpenedPath(), pty);
  dev.Close();
  // Its provider is killed; the pty (here kept by the test) now serves someone else.
  reg->Release();
  EXPECT_EQ(ResolvePortPath("ttyV"), "/dev/ttyV");
  EXPECT_EQ(dev.Open("ttyV"), ENOENT);
  EXPECT_FALSE(dev.IsOpen());
  ::close(master);
}

TEST(VirtualPortRegistry, AProviderThatEndsBetweenTheNameAndTheOpenOpensNothing) {
  Folder f;
  RuntimeDir runtime(f.root());
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ::close(slave);
  const std::string pty = name;
  HeldRegistration reg(f.ports(), "ttyV", pty);
  PosixSyscalls sys = PosixSyscalls::Real();
  int opened = -1, closed = 0;
  sys.open = [&](const char* p, int flags) {
    if (p == pty) reg.Release();  // it dies right as the port is opened
    const int fd = ::open(p, flags);
    if (p == pty) opened = fd;
    return fd;
  };
  sys.close = [&](int fd) {
    if (fd == opened) ++closed;
    return ::close(fd);
  };
  PosixCommDevice dev(sys);
  EXPECT_EQ(dev.Open("ttyV"), ENOENT);
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(closed, 1) << "the pty is given back";
  ::close(master);
}

}  // namespace
}  // namespace ornat
