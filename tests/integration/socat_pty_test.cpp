// Virtual serial ports made by socat 1.7.4, as engineers make them: a pty pair with
// ornat-sim serving the detector on its far end, and a pty bridged to a serial device
// server over TCP (a listener in this test stands in for the server and puts the bytes
// on ornat-sim's line). socat keeps the slave end of every pty it makes open itself,
// and holds its master: it is the pty's provider, and the port opens. Any other
// program on the same pty is still a holder.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "serial/platform/posix_comm_device.h"
#include "support/basic_form.h"
#include "support/cli_process.h"
#include "support/holding_process.h"
#include "support/program.h"
#include "support/sim_process.h"
#include "support/spawn.h"
#include "support/test_environment.h"
#include "support/text_lines.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using testing::CliRun;
using testing::FileText;
using testing::Program;
using testing::RunCli;

constexpr char kSocat[] = "/usr/bin/socat";

// Frames of a wire log in one direction ("RX": requests read, "TX": answers sent).
std::vector<std::string> WireFrames(const std::string& log, const std::string& dir) {
  std::vector<std::string> out;
  std::istringstream lines(FileText(log));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string stamp, d, hex, w;
    words >> stamp >> d;
    if (d != dir) continue;
    while (words >> w && w.find('=') == std::string::npos) hex += (hex.empty() ? "" : " ") + w;
    out.push_back(hex);
  }
  return out;
}

class SocatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ORNAT_SKIP_IF_MISSING(::access(kSocat, X_OK) == 0
                              ? ""
                              : "socat is missing (apt-get install socat; scripts/deps.sh)");
  }
  // socat with its addresses, started and running its transfer loop.
  std::unique_ptr<Program> Socat(const std::vector<std::string>& addresses) {
    std::vector<std::string> argv = {kSocat, "-d", "-d"};
    argv.insert(argv.end(), addresses.begin(), addresses.end());
    auto p = std::make_unique<Program>(argv, dir.path(), "socat" + std::to_string(++socats_));
    EXPECT_TRUE(p->WaitFor("starting data transfer loop")) << p->Err();
    return p;
  }
  std::string V(int n) const { return dir.path() + "/ttyV" + std::to_string(n); }

  testing::TempDir dir;
  int socats_ = 0;
};

// The CLI's parameter query on `port`: its JSON, and the status it ended with.
json Query(const std::string& port, const std::string& runtime_dir, int& exit_status,
           std::string& err) {
  const CliRun r = RunCli({"query", "--port", port, "--json"}, runtime_dir);
  exit_status = r.exit;
  err = r.err;
  return json::parse(r.out, nullptr, false);
}

TEST_F(SocatTest, APtyPairServesTheDetectorOnItsOtherEndAndSocatIsNoHolder) {
  auto socat = Socat({"pty,raw,echo=0,link=" + V(0), "pty,raw,echo=0,link=" + V(1)});
  ASSERT_TRUE(socat->Running());
  const std::string wire = dir.path() + "/wire.log";
  Program sim({ORNAT_SIM_PATH, "--device", V(1), "--no-console", "--wire-log", wire}, dir.path(),
              "sim");
  ASSERT_TRUE(sim.WaitFor("DEVICE " + V(1))) << sim.Err();

  // The device itself, as the window opens it for every exchange.
  {
    PosixCommDevice device;
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(device.Open(V(0)), 0) << "open " << i;
      EXPECT_TRUE(device.HoldersAtLastOpen().empty());
      device.Close();
    }
  }
  int status = -1;
  std::string err;
  json doc = Query(V(0), dir.path(), status, err);
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(doc["outcome"], "ok") << err;
  ASSERT_EQ(doc["exchanges"].size(), 1u);
  EXPECT_EQ(doc["exchanges"][0]["request"], "F7 03 00 00 00 08 50 9A");
  EXPECT_EQ(WireFrames(wire, "RX"), (std::vector<std::string>{"F7 03 00 00 00 08 50 9A"}));
  EXPECT_EQ(WireFrames(wire, "TX").size(), 1u);

  // cat on the same end is another program on the line: refused and named.
  testing::HoldingProcess cat({"/bin/cat", V(0)}, V(0));
  ASSERT_TRUE(cat.Started());
  doc = Query(V(0), dir.path(), status, err);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(doc["outcome"], "port-error");
  EXPECT_NE(err.find("held by cat (pid " + std::to_string(cat.pid()) + ")"), std::string::npos)
      << err;
  EXPECT_EQ(err.find("socat"), std::string::npos) << err;
  EXPECT_EQ(WireFrames(wire, "RX").size(), 1u) << "nothing more went out";
  cat.Kill();
  doc = Query(V(0), dir.path(), status, err);
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(WireFrames(wire, "RX").size(), 2u);
}

// A device server stand-in: accepts one TCP connection on the loopback and passes the
// bytes between it and a serial line (here ornat-sim's pty), both ways.
class DeviceServer {
 public:
  explicit DeviceServer(const std::string& line) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    line_ = ::open(line.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line_ < 0) return;
    termios t{};
    ::tcgetattr(line_, &t);
    ::cfmakeraw(&t);
    // The simulated detector hears the line at the rate set on its pty.
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    ::tcsetattr(line_, TCSANOW, &t);
    thread_ = std::thread([this] { Relay(); });
  }
  ~DeviceServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : {listener_, line_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  int port() const { return port_; }
  std::atomic<long> to_line{0}, from_line{0};

 private:
  void Relay() {
    int conn = -1;
    char buf[512];
    while (!stop_) {
      if (conn < 0) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) == 1) conn = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        continue;
      }
      pollfd p[2] = {{conn, POLLIN, 0}, {line_, POLLIN, 0}};
      if (::poll(p, 2, 50) <= 0) continue;
      if (p[0].revents & (POLLIN | POLLHUP)) {
        const ssize_t n = ::read(conn, buf, sizeof buf);
        if (n <= 0) {
          ::close(conn);
          conn = -1;
          continue;
        }
        if (::write(line_, buf, static_cast<std::size_t>(n)) == n) to_line += n;
      }
      if (p[1].revents & POLLIN) {
        const ssize_t n = ::read(line_, buf, sizeof buf);
        if (n > 0 && ::send(conn, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n)
          from_line += n;
      }
    }
    if (conn >= 0) ::close(conn);
  }

  int listener_ = -1, line_ = -1, port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(SocatTest, APtyBridgedToADeviceServerOverTcpCarriesTheExchanges) {
  testing::SimProcess sim;
  ASSERT_TRUE(sim.Started());
  DeviceServer server(sim.pty_path());
  ASSERT_GT(server.port(), 0);
  auto socat =
      Socat({"pty,link=" + V(0) + ",raw,echo=0", "tcp:127.0.0.1:" + std::to_string(server.port())});
  ASSERT_TRUE(socat->Running());

  int status = -1;
  std::string err;
  for (int i = 0; i < 2; ++i) {
    const json doc = Query(V(0), dir.path(), status, err);
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(doc["outcome"], "ok") << err;
  }
  const auto requests = sim.WireRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].hex, "F7 03 00 00 00 08 50 9A");
  EXPECT_EQ(sim.WireAnswers().size(), 2u);
  EXPECT_EQ(server.to_line.load(), 16);
  EXPECT_EQ(server.from_line.load(), 2 * 21);

  // A terminal program left on the bridge's pty: refused, named, nothing sent.
  testing::HoldingProcess screen({"/bin/sh", "-c", "exec 3<>" + V(0) + "; exec sleep 60"}, V(0),
                                 "sleep");
  ASSERT_TRUE(screen.Started());
  const json doc = Query(V(0), dir.path(), status, err);
  EXPECT_EQ(status, 3);
  EXPECT_NE(err.find("held by sleep (pid " + std::to_string(screen.pid()) + ")"), std::string::npos)
      << err;
  EXPECT_EQ(sim.WireRequests().size(), 2u);
}

}  // namespace
}  // namespace ornat
