// A program that holds a file on a mount that no longer answers (a hung NFS server, a
// FUSE daemon that stopped), here a FUSE file system of the test's own that stops
// answering GETATTR: any stat of that file, through /proc/<pid>/fd/<n> too, waits
// for good. The look for the port's holders never touches it: it still refuses and
// names a holder of the port, and opens the port when the hung program holds
// something else, without waiting. Needs root (to mount) and /dev/fuse. While it runs
// (about 0.4 s), any other program that stats what other processes hold (fuser, lsof)
// waits on the stand-in too, until the test ends the connection.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fuse.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/platform/posix_comm_device.h"
#include "support/holding_process.h"
#include "support/live_form.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;

// A FUSE file system with one empty file, "file", served by a thread; after Hang() it
// leaves every GETATTR unanswered. Destroying it aborts the connection, which ends
// the waits it left hanging, and detaches the mount.
class HungMount {
 public:
  HungMount() {
    char tmpl[] = "/tmp/ornat-hung-mount-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) return;
    dir_ = tmpl;
    fuse_ = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse_ < 0) {
      error_ = std::string("/dev/fuse: ") + std::strerror(errno);
      return;
    }
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    const std::string options =
        "fd=" + std::to_string(fuse_) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
    if (::mount("ornat-hung", dir_.c_str(), "fuse", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
      error_ = std::string("mount: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
    thread_ = std::thread([this] { Serve(); });
  }
  ~HungMount() {
    if (thread_.joinable()) {
      const std::uint64_t one = 1;
      (void)!::write(stop_, &one, sizeof one);
      thread_.join();
    }
    // The last descriptor of the connection: every request left waiting fails now.
    if (fuse_ >= 0) ::close(fuse_);
    if (stop_ >= 0) ::close(stop_);
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    if (!dir_.empty()) ::rmdir(dir_.c_str());
  }
  HungMount(const HungMount&) = delete;
  HungMount& operator=(const HungMount&) = delete;

  bool Mounted() const { return mounted_; }
  // The connection's descriptor: a forked child closes it first, so that the
  // connection ends with this process however it ends (were a child left holding it
  // with the server gone, every wait on the mount would last for good).
  int fd() const { return fuse_; }
  const std::string& error() const { return error_; }
  std::string file() const { return dir_ + "/file"; }
  void Hang() { hang_ = true; }
  int unanswered() const { return unanswered_; }

 private:
  static fuse_attr Attr(std::uint64_t node) {
    fuse_attr a{};
    a.ino = node;
    a.mode = node == FUSE_ROOT_ID ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    a.nlink = node == FUSE_ROOT_ID ? 2 : 1;
    a.blksize = 4096;
    return a;
  }
  void Reply(std::uint64_t unique, int error, const void* body = nullptr, std::size_t size = 0) {
    std::vector<char> out(sizeof(fuse_out_header) + size);
    fuse_out_header h{};
    h.len = static_cast<std::uint32_t>(out.size());
    h.error = -error;
    h.unique = unique;
    std::memcpy(out.data(), &h, sizeof h);
    if (size > 0) std::memcpy(out.data() + sizeof h, body, size);
    (void)!::write(fuse_, out.data(), out.size());
  }
  void Serve() {
    std::vector<char> buf(1 << 17);
    for (;;) {
      pollfd p[2] = {{fuse_, POLLIN, 0}, {stop_, POLLIN, 0}};
      if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
      if (p[1].revents & POLLIN) return;
      if (!(p[0].revents & POLLIN)) continue;
      const ssize_t n = ::read(fuse_, buf.data(), buf.size());
      if (n < static_cast<ssize_t>(sizeof(fuse_in_header))) {
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == ENOENT)) continue;
        return;  // unmounted
      }
      fuse_in_header in;
      std::memcpy(&in, buf.data(), sizeof in);
      const char* body = buf.data() + sizeof in;
      switch (in.opcode) {
        case FUSE_INIT: {
          fuse_init_in init;
          std::memcpy(&init, body, sizeof init);
          fuse_init_out out{};
          out.major = FUSE_KERNEL_VERSION;
          out.minor = std::min<std::uint32_t>(init.minor, FUSE_KERNEL_MINOR_VERSION);
          out.max_readahead = init.max_readahead;
          out.max_write = 4096;
          Reply(in.unique, 0, &out, sizeof out);
          break;
        }
        case FUSE_LOOKUP: {
          if (in.nodeid != FUSE_ROOT_ID || std::strcmp(body, "file") != 0) {
            Reply(in.unique, ENOENT);
            break;
          }
          fuse_entry_out e{};
          e.nodeid = 2;
          e.attr = Attr(2);  // no caching: every stat asks
          Reply(in.unique, 0, &e, sizeof e);
          break;
        }
        case FUSE_GETATTR: {
          if (hang_) {  // the server no longer answers
            ++unanswered_;
            break;
          }
          fuse_attr_out a{};
          a.attr = Attr(in.nodeid);
          Reply(in.unique, 0, &a, sizeof a);
          break;
        }
        case FUSE_OPEN: {
          fuse_open_out o{};
          o.fh = 1;
          Reply(in.unique, 0, &o, sizeof o);
          break;
        }
        case FUSE_FLUSH:
        case FUSE_RELEASE:
        case FUSE_DESTROY:
          Reply(in.unique, 0);
          break;
        case FUSE_FORGET:
        case FUSE_BATCH_FORGET:
        case FUSE_INTERRUPT:
          break;  // no reply
        default:
          Reply(in.unique, ENOSYS);
      }
    }
  }

  std::string dir_, error_;
  int fuse_ = -1, stop_ = -1;
  bool mounted_ = false;
  std::atomic<bool> hang_{false};
  std::atomic<int> unanswered_{0};
  std::thread thread_;
};

using testing::Watchdog;

TEST(HungMount, AHolderWithAFileOnAHungMountIsRefusedAndNamedWithoutWaiting) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting the stand-in needs root";
  if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/fuse";
  char name[128] = {};
  int master = -1, slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ::close(slave);
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  const std::string pty = name;
  std::atomic<bool> returned{false};
  std::jthread stat_caller;  // joined after the mount is gone, whatever happens
  {
    HungMount mount;
    if (!mount.Mounted()) GTEST_SKIP() << "cannot mount FUSE here: " << mount.error();
    const std::string file = mount.file();
    // One program holds the port and a file on the mount, another only such a file.
    testing::HoldingProcess both([&] {
      ::close(mount.fd());
      ::close(master);  // the pty's master stays with its provider
      return ::open(file.c_str(), O_RDONLY) >= 0 &&
                     ::open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0
                 ? 0
                 : errno;
    });
    ASSERT_EQ(both.open_result(), 0);
    constexpr int kHeldFd = 100;  // where the other program keeps the file
    testing::HoldingProcess other([&] {
      ::close(mount.fd());
      const int f = ::open(file.c_str(), O_RDONLY);
      return f >= 0 && ::dup2(f, kHeldFd) == kHeldFd ? 0 : errno;
    });
    ASSERT_EQ(other.open_result(), 0);
    mount.Hang();

    // The stand-in does hang: a stat of the other program's descriptor does not return.
    const std::string held =
        "/proc/" + std::to_string(other.pid()) + "/fd/" + std::to_string(kHeldFd);
    stat_caller = std::jthread([&returned, held] {
      struct stat st {};
      ::stat(held.c_str(), &st);
      returned = true;
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(returned.load()) << "the stand-in did not hang";
    EXPECT_GE(mount.unanswered(), 1);

    {
      Watchdog dog(20s);
      PosixCommDevice device;
      EXPECT_EQ(device.Open(pty), EBUSY);
      const std::vector<PortHolder> holders = device.HoldersAtLastOpen();
      ASSERT_EQ(holders.size(), 1u);
      EXPECT_EQ(holders[0].pid, both.pid());
      EXPECT_FALSE(holders[0].name.empty());
      both.Kill();
      // What holds the hung file but not the port is no holder, and is not waited for.
      EXPECT_EQ(device.Open(pty), 0);
      device.Close();
    }
    other.Kill();
  }  // the connection is aborted: the stat left waiting fails and returns
  if (stat_caller.joinable()) stat_caller.join();
  EXPECT_TRUE(returned.load());
  ::close(master);
}

}  // namespace
}  // namespace ornat
