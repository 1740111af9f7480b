// The real component, event thread and POSIX device over a pseudo-terminal pair: the
// test holds the master side, the port opens the slave by its path.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/dispatcher.h"
#include "runtime/handler_gate.h"
#include "serial/comport.h"
#include "serial/comthread.h"
#include "serial/platform/posix_comm_device.h"
#include "support/eventually.h"
#include "support/holding_process.h"
#include "support/in_child.h"
#include "support/live_form.h"
#include "support/runtime_dir.h"
#include "support/sim_process.h"
#include "support/thrown.h"
#include "support/virtual_port_lock.h"
#include "ui/toolkit/dialogs.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

using testing::Eventually;
using testing::Thrown;
using testing::Watchdog;

// What the data-arrival handler saw.
struct ReadRecord {
  std::mutex mu;
  std::vector<int> counts;
  std::vector<Clock::time_point> returned;
  std::atomic<int> reads{0};
};

class PtyTest : public ::testing::Test {
 protected:
  PtyTest() : gate(dialogs), dispatcher(gate) {
    char name[128] = {};
    int slave = -1;
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) std::abort();
    ::close(slave);  // the port opens the slave itself, by path
    // Ours alone, as a simulator keeps its master: a program started here that held
    // it too would be the pty's provider, not another holder.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    slave_path = name;
    port = std::make_unique<TComPort>("ComPort1", device, dispatcher);
    // ComPort1's stored form.
    port->SetPort(slave_path);
    port->Timeouts().SetReadInterval(150);
    port->SetSyncMethod(TSyncMethod::smNone);
  }
  ~PtyTest() override {
    port.reset();
    if (master >= 0) ::close(master);
  }
  void MasterWrite(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::vector<std::uint8_t> MasterRead(std::size_t n, int timeout_ms = 2000) {
    std::vector<std::uint8_t> out;
    auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out.size() < n && Clock::now() < until) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
        std::uint8_t buf[256];
        ssize_t r = ::read(master, buf, sizeof buf);
        if (r > 0) out.insert(out.end(), buf, buf + r);
      }
    }
    return out;
  }
  void RecordReads(ReadRecord& rec);

  ScriptedDialogs dialogs;
  HandlerGate gate;
  QueueDispatcher dispatcher;
  int master = -1;
  std::string slave_path;
  PosixCommDevice device;
  std::unique_ptr<TComPort> port;
};

// A data-arrival handler that reads up to 20 bytes and records the count and when.
void PtyTest::RecordReads(ReadRecord& rec) {
  port->OnRxChar = [this, &rec](TObject*, int) {
    std::uint8_t buf[20];
    int n = port->ReadBytes(buf, 20);
    std::lock_guard<std::mutex> lock(rec.mu);
    rec.counts.push_back(n);
    rec.returned.push_back(Clock::now());
    ++rec.reads;
  };
}

TEST_F(PtyTest, ReadBytes20WithAnEightByteBurstReturns8About150MsAfterTheLastByte) {
  ReadRecord rec;
  RecordReads(rec);
  port->OpenPort();
  MasterWrite({0xF7, 0x03, 0x02, 0x00, 0x05, 0x44, 0x11, 0x22});
  const auto last_byte = Clock::now();
  ASSERT_TRUE(Eventually([&] { return rec.reads.load() >= 1; }));
  {
    std::lock_guard<std::mutex> lock(rec.mu);
    EXPECT_EQ(rec.counts[0], 8);
    double after = std::chrono::duration<double, std::milli>(rec.returned[0] - last_byte).count();
    EXPECT_GE(after, 145.0);
    EXPECT_LT(after, 400.0);
  }
  port->ClosePort();
}

TEST_F(PtyTest, ReadBytes20WithTwentyBytesBackToBackReturnsAtOnce) {
  ReadRecord rec;
  RecordReads(rec);
  port->OpenPort();
  std::vector<std::uint8_t> bytes(20);
  for (int i = 0; i < 20; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  MasterWrite(bytes);
  const auto last_byte = Clock::now();
  ASSERT_TRUE(Eventually([&] { return rec.reads.load() >= 1; }));
  {
    std::lock_guard<std::mutex> lock(rec.mu);
    EXPECT_EQ(rec.counts[0], 20);
    double after = std::chrono::duration<double, std::milli>(rec.returned[0] - last_byte).count();
    EXPECT_LT(after, 100.0);
  }
  port->ClosePort();
}

TEST_F(PtyTest, ASplitAnswerIsReadWholeWhenTheGapIsUnderTheInterval) {
  ReadRecord rec;
  RecordReads(rec);
  port->OpenPort();
  MasterWrite({1, 2, 3});
  std::this_thread::sleep_for(60ms);
  MasterWrite({4, 5, 6, 7});
  ASSERT_TRUE(Eventually([&] { return rec.reads.load() >= 1; }));
  std::this_thread::sleep_for(50ms);
  {
    std::lock_guard<std::mutex> lock(rec.mu);
    ASSERT_EQ(rec.counts.size(), 1u);
    EXPECT_EQ(rec.counts[0], 7);
  }
  port->ClosePort();
}

TEST_F(PtyTest, WriteBytesSendsTheRequest) {
  port->OpenPort();
  const std::uint8_t frame[8] = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x01, 0x91, 0x5C};
  EXPECT_EQ(port->WriteBytes(frame, 8), 8);
  EXPECT_EQ(MasterRead(8), std::vector<std::uint8_t>(frame, frame + 8));
  port->ClosePort();
}

TEST_F(PtyTest, WithTheDefaultIntervalAReadReturnsAtOnceWithWhatIsQueued) {
  port->Timeouts().SetReadInterval(-1);
  port->SetEvents(TComEvents{});
  port->OpenPort();
  std::uint8_t buf[20];
  auto t0 = Clock::now();
  EXPECT_EQ(port->ReadBytes(buf, 20), 0);
  EXPECT_LT(MsSince(t0), 50.0);
  MasterWrite({1, 2, 3});
  ASSERT_TRUE(Eventually([&] { return port->QueuedInputCount() == 3; }));
  t0 = Clock::now();
  EXPECT_EQ(port->ReadBytes(buf, 20), 3);
  EXPECT_LT(MsSince(t0), 50.0);
  port->ClosePort();
}

TEST_F(PtyTest, ClosingWhileAHandlerWaitsInReadBytesFailsTheReadWithCode3) {
  std::atomic<bool> in_second_read{false};
  std::atomic<int> code{0};
  std::atomic<int> system_error{0};
  port->OnRxChar = [&](TObject*, int) {
    std::uint8_t buf[20];
    port->ReadBytes(buf, 20);  // the 8 bytes, 150 ms after the last
    in_second_read = true;
    try {
      port->ReadBytes(buf, 20);  // nothing comes: waits for its first byte without end
    } catch (const EComPort& e) {
      code = e.ErrorCode();
      system_error = e.SystemError();
      throw;  // ends the thread, as the exchange engine's handler does
    }
  };
  port->OpenPort();
  MasterWrite({1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_TRUE(Eventually([&] { return in_second_read.load(); }));
  std::this_thread::sleep_for(30ms);  // the read is waiting now
  {
    Watchdog dog(10s);
    auto t0 = Clock::now();
    port->ClosePort();
    EXPECT_LT(MsSince(t0), 1000.0);
  }
  EXPECT_EQ(code.load(), 3);
  EXPECT_EQ(system_error.load(), ECANCELED);
  EXPECT_FALSE(port->Connected());
  EXPECT_FALSE(device.IsOpen());
  // The port opens again with a new thread.
  std::atomic<int> seen{0};
  port->OnRxChar = [&](TObject*, int n) {
    std::uint8_t buf[20];
    seen = port->ReadBytes(buf, n);
  };
  port->OpenPort();
  MasterWrite({9, 9});
  EXPECT_TRUE(Eventually([&] { return seen.load() == 2; }));
  port->ClosePort();
}

TEST_F(PtyTest, TheSecondOpenOfAHeldPortFailsWithCode1) {
  port->OpenPort();
  PosixCommDevice other_device;
  TComPort other("ComPort2", other_device, dispatcher);
  other.SetPort(slave_path);
  const auto e = Thrown<EComPort>([&] { other.OpenPort(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 1);
  EXPECT_EQ(e->SystemError(), EBUSY);
  EXPECT_EQ(std::string(e->what()),
            "Unable to open com port (win error code: " + std::to_string(EBUSY) + ")");
  EXPECT_FALSE(other.Connected());
  port->ClosePort();
  EXPECT_NO_THROW(other.OpenPort());  // released by the close
  other.ClosePort();
}

TEST_F(PtyTest, APseudoTerminalIsNeverLeftExclusiveWhileItsOtherSideStaysOpen) {
  // Root ignores the exclusive flag, so look at the flag itself: left set, it would
  // refuse the next open of an ordinary user while the simulator keeps the pty. The
  // port never sets it on a pty, so a program killed while holding it cannot leave it
  // behind either.
  int probe = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(probe, 0);
  port->OpenPort();
  int excl = -1;
  ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 0) << "not while open";
  port->ClosePort();
  ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 0) << "nor after the close";
  ::close(probe);
}

TEST_F(PtyTest, AnotherProgramThatHasThePortOpenIsNamedAndRefusedUntilItEnds) {
  struct Case {
    const char* what;
    std::vector<std::string> argv;
    const char* name;  // as the system knows the program
  };
  const Case cases[] = {
      {"cat reading it", {"/bin/cat", slave_path}, "cat"},
      // The descriptor outlives the shell that opened it: whoever has it now holds it.
      {"a descriptor left to another program",
       {"/bin/sh", "-c", "exec 3<>" + slave_path + "; exec sleep 60"},
       "sleep"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::HoldingProcess holder(c.argv, slave_path, c.name);
    ASSERT_TRUE(holder.Started());
    const std::string held_by =
        std::string("held by ") + c.name + " (pid " + std::to_string(holder.pid()) + ")";
    const auto e = Thrown<EComPort>([&] { port->OpenPort(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode(), 1);
    EXPECT_EQ(e->SystemError(), EBUSY);
    EXPECT_EQ(e->Holders(), (std::vector<PortHolder>{{holder.pid(), c.name}}));
    EXPECT_EQ(std::string(e->what()), "Unable to open com port (win error code: " +
                                          std::to_string(EBUSY) + "); " + held_by);
    EXPECT_FALSE(port->Connected());
    holder.Kill();
    ASSERT_NO_THROW(port->OpenPort());
    port->ClosePort();
  }
}

TEST_F(PtyTest, AMissingDeviceFailsWithCode1AndErrno2) {
  port->SetPort("ttyORNAT_NO_SUCH_PORT");
  const auto e = Thrown<EComPort>([&] { port->OpenPort(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 1);
  EXPECT_EQ(e->SystemError(), 2);
  EXPECT_STREQ(e->what(), "Unable to open com port (win error code: 2)");
}

TEST_F(PtyTest, TheOtherSideClosingEndsTheThreadAndTheCloseCompletes) {
  std::atomic<int> rx{0};
  port->OnRxChar = [&](TObject*, int) {
    std::uint8_t buf[20];
    port->ReadBytes(buf, 20);
    ++rx;
  };
  port->OpenPort();
  MasterWrite({1, 2});
  ASSERT_TRUE(Eventually([&] { return rx.load() == 1; }));
  ::close(master);  // the adapter is unplugged
  master = -1;
  Watchdog dog(10s);
  EXPECT_TRUE(Eventually([&] { return port->EventThread()->Finished(); }));
  EXPECT_NO_THROW(port->ClosePort());
  EXPECT_FALSE(port->Connected());
  EXPECT_FALSE(device.IsOpen());
}

TEST_F(PtyTest, TheOtherSideClosingDuringAReadFailsTheReadAndNothingHangs) {
  std::atomic<bool> in_read{false};
  std::atomic<int> code{0};
  port->OnRxChar = [&](TObject*, int) {
    std::uint8_t buf[20];
    port->ReadBytes(buf, 20);
    in_read = true;
    try {
      port->ReadBytes(buf, 20);
    } catch (const EComPort& e) {
      code = e.ErrorCode();
      throw;
    }
  };
  port->OpenPort();
  MasterWrite({1});
  ASSERT_TRUE(Eventually([&] { return in_read.load(); }));
  std::this_thread::sleep_for(20ms);
  ::close(master);
  master = -1;
  Watchdog dog(10s);
  EXPECT_TRUE(Eventually([&] { return port->EventThread()->Finished(); }));
  EXPECT_EQ(code.load(), 3);
  EXPECT_NO_THROW(port->ClosePort());
  EXPECT_FALSE(port->Connected());
}

TEST_F(PtyTest, WithNoThreadAHungUpDeviceFailsTransfersButClosesCleanly) {
  port->SetEvents(TComEvents{});
  port->OpenPort();
  ::close(master);
  master = -1;
  std::uint8_t buf[8] = {};
  Watchdog dog(10s);
  EXPECT_THROW(port->WriteBytes(buf, 8), EComPort);
  EXPECT_THROW(port->ReadBytes(buf, 8), EComPort);
  EXPECT_NO_THROW(port->ClosePort());
}

TEST_F(PtyTest, APtyHasNoModemLinesOrErrorCountersAndThatIsNoFailure) {
  port->SetEvents(TComEvents{});
  port->OpenPort();
  EXPECT_TRUE(port->ModemSignals().Empty());
  EXPECT_TRUE(port->LineErrors().Empty());
  EXPECT_EQ(port->QueuedInputCount(), 0);
  port->ClosePort();
}

TEST_F(PtyTest, EveryBitRateSetWhileOpenIsWhatTheDeviceReadsBack) {
  struct Case {
    TBaudRate rate;
    std::uint32_t bits;
  } cases[] = {
      {TBaudRate::br1200, 1200},     {TBaudRate::br2400, 2400},     {TBaudRate::br4800, 4800},
      {TBaudRate::br9600, 9600},     {TBaudRate::br14400, 14400},   {TBaudRate::br19200, 19200},
      {TBaudRate::br38400, 38400},   {TBaudRate::br57600, 57600},   {TBaudRate::br56000, 56000},
      {TBaudRate::br128000, 128000}, {TBaudRate::br256000, 256000}, {TBaudRate::br115200, 115200},
      {TBaudRate::br110, 110},
  };
  port->OpenPort();
  EXPECT_EQ(device.QueryDeviceBaudRate(), 9600u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    port->SetBaudRate(c.rate);
    EXPECT_EQ(device.QueryDeviceBaudRate(), c.bits);
    // The same through the other side: termios calls on a pty master act on the slave.
    EXPECT_EQ(GetTermios2Rate(master), c.bits);
  }
  port->SetCustomBaudRate(31250);
  port->SetBaudRate(TBaudRate::brCustom);
  EXPECT_EQ(device.QueryDeviceBaudRate(), 31250u);
  port->ClosePort();
}

TEST_F(PtyTest, LineSettingsReachTheTerminalAttributes) {
  port->OpenPort();
  termios t{};
  ASSERT_EQ(::tcgetattr(master, &t), 0);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & PARENB);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_FALSE(t.c_lflag & ICANON);
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  port->SetStopBits(TStopBits::sbOne5StopBits);  // 1.5 is treated as 2 on POSIX
  port->FlowControl().SetFlowControl(TFlowControl::fcSoftware);
  port->Parity().SetCheck(true);
  ASSERT_EQ(::tcgetattr(master, &t), 0);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_iflag & INPCK);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  EXPECT_EQ(t.c_cc[VSTART], 17);
  EXPECT_EQ(t.c_cc[VSTOP], 19);
  port->FlowControl().SetFlowControl(TFlowControl::fcHardware);
  ASSERT_EQ(::tcgetattr(master, &t), 0);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_FALSE(t.c_iflag & IXON);
  port->ClosePort();
}

// A pty carries 8 data bits without parity only (the kernel forces CS8 and clears
// PARENB); the parity and size codes themselves are checked through the system-call
// seam in posix_comm_device_test.cpp.
TEST_F(PtyTest, ASettingAPtyCannotCarryFailsWithCode7AndChangesNothing) {
  port->OpenPort();
  port->SetStopBits(TStopBits::sbTwoStopBits);
  const auto e = Thrown<EComPort>([&] { port->Parity().SetBits(TParityBits::prEven); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 7);
  EXPECT_EQ(e->SystemError(), EINVAL);
  termios t{};
  ASSERT_EQ(::tcgetattr(master, &t), 0);
  EXPECT_TRUE(t.c_cflag & CSTOPB);  // the previous settings stay
  EXPECT_FALSE(t.c_cflag & PARENB);
  EXPECT_TRUE(port->Connected());
  EXPECT_THROW(port->SetDataBits(TDataBits::dbSeven), EComPort);
  EXPECT_EQ(device.QueryDeviceBaudRate(), 9600u);
  port->ClosePort();
}

TEST_F(PtyTest, DiscardNullDropsReceivedNullBytes) {
  port->SetEvents(TComEvents{});
  port->SetDiscardNull(true);
  port->Timeouts().SetReadInterval(-1);
  port->OpenPort();
  MasterWrite({1, 0, 2, 0, 0, 3});
  ASSERT_TRUE(Eventually([&] { return port->QueuedInputCount() == 6; }));
  std::uint8_t buf[8] = {};
  EXPECT_EQ(port->ReadBytes(buf, 8), 3);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[1], 2);
  EXPECT_EQ(buf[2], 3);
  port->ClosePort();
}

TEST_F(PtyTest, BytesThatStayUnreadAreReportedOnceAndLaterBytesAgain) {
  std::atomic<int> events{0};
  std::atomic<int> last_count{0};
  port->OnRxChar = [&](TObject*, int n) {  // reads nothing
    ++events;
    last_count = n;
  };
  port->OpenPort();
  MasterWrite({1, 2, 3});
  ASSERT_TRUE(Eventually([&] { return events.load() == 1; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(events.load(), 1);  // not again and again
  MasterWrite({4});
  ASSERT_TRUE(Eventually([&] { return events.load() == 2; }));
  EXPECT_EQ(last_count.load(), 4);
  port->ClosePort();
}

TEST_F(PtyTest, TheWriteTotalsEndAWriteThatCannotDrain) {
  port->SetEvents(TComEvents{});
  port->Timeouts().SetWriteTotalMultiplier(0);
  port->Timeouts().SetWriteTotalConstant(200);
  port->OpenPort();
  // Nobody reads the master: the pty's buffer fills, then the write runs out of time.
  std::vector<std::uint8_t> big(1 << 20, 0x55);
  auto t0 = Clock::now();
  int n = port->WriteBytes(big.data(), static_cast<int>(big.size()));
  double ms = MsSince(t0);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<int>(big.size()));
  EXPECT_GE(ms, 190.0);
  EXPECT_LT(ms, 1000.0);
  Watchdog dog(10s);
  port->ClosePort();  // the stuck output is dropped before close()
}

TEST_F(PtyTest, ClosingAbortsAWriteThatWaits) {
  port->SetEvents(TComEvents{});
  port->Timeouts().SetWriteTotalMultiplier(0);
  port->Timeouts().SetWriteTotalConstant(0);  // no limit
  port->OpenPort();
  std::atomic<int> code{0};
  std::thread writer([&] {
    std::vector<std::uint8_t> big(1 << 20, 0x55);
    try {
      port->WriteBytes(big.data(), static_cast<int>(big.size()));
    } catch (const EComPort& e) {
      code = e.ErrorCode();
    }
  });
  std::this_thread::sleep_for(100ms);
  Watchdog dog(10s);
  port->ClosePort();
  writer.join();
  EXPECT_EQ(code.load(), 2);
}

TEST_F(PtyTest, AVirtualPortNameOpensTheRegisteredLinkWhileItsProviderLives) {
  testing::PrivateRuntimeDir xdg;
  ASSERT_EQ(VirtualPortsDirectory(), xdg.path() + "/ornat/ports");
  {
    testing::HeldRegistration provider(VirtualPortsDirectory(), "ttyORNAT0", slave_path);
    ASSERT_TRUE(provider.Held());
    EXPECT_EQ(ResolvePortPath("ttyORNAT0"), slave_path);
    port->SetPort("ttyORNAT0");
    port->OpenPort();
    EXPECT_EQ(device.OpenedPath(), slave_path);
    port->ClosePort();
    // The provider ends; its link stays behind: the bare name now means /dev/<name>.
    provider.Release();
    EXPECT_EQ(ResolvePortPath("ttyORNAT0"), "/dev/ttyORNAT0");
    EXPECT_THROW(port->OpenPort(), EComPort);
    EXPECT_FALSE(port->Connected());
  }
  {
    // A live provider whose pty is gone.
    testing::HeldRegistration provider(VirtualPortsDirectory(), "ttyORNAT1", "/nonexistent/pty");
    EXPECT_EQ(ResolvePortPath("ttyORNAT1"), "/dev/ttyORNAT1");
  }
}

// --- a holder killed while it holds the simulator's port ---------------------------

// Exit code of a child that could not become the ordinary user.
constexpr int kNoOrdinaryUser = 250;

TEST(SimulatorPort, APortWhoseHolderIsKilledOpensAgainForAnOrdinaryUser) {
  testing::SimProcess sim;
  ASSERT_TRUE(sim.Started());
  auto open_as_ordinary_user = [](const std::string& path) {
    return testing::InChild([&] {
      if (!testing::BecomeOrdinaryUser()) return kNoOrdinaryUser;
      PosixCommDevice dev;
      const int e = dev.Open(path);
      dev.Close();
      return e;
    });
  };
  // An ordinary user may use the pty, as its owner would.
  ASSERT_EQ(::chmod(sim.pty_path().c_str(), 0666), 0);
  const int free_port = open_as_ordinary_user(sim.pty_path());
  if (free_port == kNoOrdinaryUser) GTEST_SKIP() << "this root cannot run a child as user 65534";
  ASSERT_EQ(free_port, 0) << "a free port opens";

  // What must not happen, shown on a pty of its own: a holder that made the pty
  // exclusive and was killed leaves it refusing every ordinary user for as long as
  // its other side stays open.
  {
    char name[128] = {};
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    ASSERT_EQ(::chmod(name, 0666), 0);
    const std::string other = name;
    testing::HoldingProcess exclusive([&] {
      const int f = ::open(other.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      return f >= 0 && ::ioctl(f, TIOCEXCL, nullptr) == 0 ? 0 : errno;
    });
    ASSERT_EQ(exclusive.open_result(), 0);
    exclusive.Kill();
    EXPECT_EQ(open_as_ordinary_user(other), EBUSY) << "the ordinary user is subject to the flag";
    ::close(master);
  }

  // The window's device holds the simulator's port by its registered name and is
  // killed.
  testing::HoldingProcess window([&] {
    ::setenv("XDG_RUNTIME_DIR", sim.runtime_dir().c_str(), 1);
    auto* dev = new PosixCommDevice;  // kept until the process is killed
    return dev->Open(sim.port_name());
  });
  ASSERT_EQ(window.open_result(), 0);
  EXPECT_EQ(open_as_ordinary_user(sim.pty_path()), EBUSY) << "refused while it is held";
  window.Kill();
  EXPECT_EQ(open_as_ordinary_user(sim.pty_path()), 0) << "free once its holder is gone";
}

}  // namespace
}  // namespace ornat
