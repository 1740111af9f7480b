// The real Win32 device under Wine over a pty mapped as COM7: the serial port component
// (com_probe.exe) on one side, this test on the pty's master on the other, playing its
// part between the steps.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/test_environment.h"
#include "wine/wine_process.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using testing::WineProcess;

// A pty whose slave the prefix's COM7 leads to.
class Line {
 public:
  Line() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = ptsname(master_);
    // Keeps the line up while the program opens and closes its side.
    keep_ = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~Line() {
    if (keep_ >= 0) close(keep_);
    if (master_ >= 0) close(master_);
  }
  bool Ready() const { return master_ >= 0 && keep_ >= 0; }
  const std::string& slave() const { return slave_; }
  void Send(const std::vector<std::uint8_t>& bytes) const {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the program wrote, until `n` bytes came or the time is up.
  std::vector<std::uint8_t> Receive(std::size_t n, std::chrono::milliseconds limit) const {
    std::vector<std::uint8_t> got;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (got.size() < n && std::chrono::steady_clock::now() < until) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0 || (p.revents & POLLIN) == 0) continue;
      std::uint8_t b[64];
      const ssize_t r = read(master_, b, sizeof b);
      if (r > 0) got.insert(got.end(), b, b + r);
    }
    return got;
  }
  termios Settings() const {
    termios t{};
    tcgetattr(keep_, &t);
    return t;
  }

 private:
  int master_ = -1;
  int keep_ = -1;
  std::string slave_;
};

class WineSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    ORNAT_SKIP_IF_MISSING(testing::WineSetupMissing({"tests/wine/programs/com_probe.exe"}));
    ASSERT_TRUE(line.Ready());
    ASSERT_TRUE(testing::PointComPort("COM7", line.slave()));
    probe = std::make_unique<WineProcess>(
        testing::WindowsProgram("tests/wine/programs/com_probe.exe"), std::vector<std::string>{});
    ASSERT_TRUE(probe->Started());
  }
  void TearDown() override {
    if (probe) {
      probe->Send("quit");
      EXPECT_EQ(probe->Wait(20s), 0) << probe->err();
    }
  }
  Line line;
  std::unique_ptr<WineProcess> probe;
};

TEST_F(WineSerial, OpensAndConfiguresThePortAndWritesTheEightByteRequest) {
  ASSERT_EQ(probe->Ask("open COM7"), "opened");
  // 9600 bit/s, 8 data bits, no parity, one stop bit, no flow control, raw.
  const termios t = line.Settings();
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(cfgetispeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  const std::vector<std::uint8_t> request = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};
  ASSERT_EQ(probe->Ask("write F7 03 00 00 00 08 50 9A"), "wrote 8");
  EXPECT_EQ(line.Receive(9, 500ms), request) << "the request, and nothing else";
  EXPECT_EQ(probe->Ask("close"), "closed");
}

TEST_F(WineSerial, AReadEndsOneHundredFiftyMillisecondsAfterTheLastByteNotAtAShorterGap) {
  // The data-arrival handler reads with ComPort1's 150 ms interval: a pause well under
  // it stays inside one read, a pause well over it ends the read. The pause is the one
  // the line really had: on a loaded machine a 60 ms sleep can last longer, and then
  // nothing is asserted of it.
  struct Case {
    const char* name;
    std::chrono::milliseconds gap;
  } cases[] = {{"60 ms pause", 60ms}, {"400 ms pause", 400ms}};
  ASSERT_EQ(probe->Ask("open COM7"), "opened");
  for (const Case& c : cases) {
    line.Send({1, 2, 3, 4, 5});
    const auto first = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(c.gap);
    const auto second = std::chrono::steady_clock::now();
    line.Send({6, 7, 8, 9, 10});
    const auto gap = second - first;
    std::vector<std::string> reads;
    std::size_t bytes = 0;
    while (bytes < 10) {
      const auto r = probe->ReadLine(5s);
      ASSERT_TRUE(r.has_value()) << c.name << ": " << bytes << " bytes read";
      reads.push_back(*r);
      bytes += static_cast<std::size_t>(std::stoi(r->substr(3)));
    }
    if (gap < 120ms) {
      EXPECT_EQ(reads, (std::vector<std::string>{"rx 10 01 02 03 04 05 06 07 08 09 0A"})) << c.name;
    } else if (gap > 200ms) {
      EXPECT_EQ(reads, (std::vector<std::string>{"rx 5 01 02 03 04 05", "rx 5 06 07 08 09 0A"}))
          << c.name;
    } else {
      std::printf("%s: the pause lasted %lld ms; not judged\n", c.name,
                  static_cast<long long>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(gap).count()));
    }
    std::this_thread::sleep_for(300ms);
  }
  EXPECT_EQ(probe->Ask("close"), "closed");
}

TEST_F(WineSerial, ClearCommErrorCountsTheQueueAndAReadTakesAtMostItsCount) {
  ASSERT_EQ(probe->Ask("open-quiet COM7"), "opened");
  line.Send({0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16});
  std::optional<std::string> queue;
  for (int i = 0; i < 50; ++i) {
    queue = probe->Ask("queue");
    if (queue == "queue 7") break;
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(queue, "queue 7");
  EXPECT_EQ(probe->Ask("read 20"), "read 7 10 11 12 13 14 15 16");
  // Count bytes in: the read returns at once with them, the rest stays queued.
  std::vector<std::uint8_t> many(25);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<std::uint8_t>(i);
  line.Send(many);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(probe->Ask("read 20"),
            "read 20 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13");
  EXPECT_EQ(probe->Ask("queue"), "queue 5");
  EXPECT_EQ(probe->Ask("close"), "closed");
}

TEST_F(WineSerial, ClosingEndsAReadThatWaitsForItsFirstByteWith995) {
  // Wine's PurgeComm leaves the read waiting; the cancel of its OVERLAPPED that
  // follows the purge ends it, as PurgeComm itself does on Windows.
  ASSERT_EQ(probe->Ask("open-quiet COM7"), "opened");
  ASSERT_EQ(probe->Ask("read-bg 20"), "reading");
  std::this_thread::sleep_for(300ms);
  probe->Send("close");
  std::vector<std::string> lines;
  for (int i = 0; i < 2; ++i)
    if (auto l = probe->ReadLine(10s)) lines.push_back(*l);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "closed", "error 3 995 ReadFile function failed (win error code: 995)"}));
}

TEST_F(WineSerial, APortWithoutADeviceFailsWithCode1AndError2) {
  EXPECT_EQ(probe->Ask("open COM9"), "error 1 2 Unable to open com port (win error code: 2)");
}

}  // namespace
}  // namespace ornat
