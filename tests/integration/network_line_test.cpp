// Network lines against foreign peers on the loopback: ornat-sim's pty behind socat and
// behind ser2net (raw TCP and RFC 2217, whose speeds must reach the pty), pymodbus's
// TCP server framed as RTU and as Modbus TCP, and servers that drop the connection,
// refuse RFC 2217 or never accept: each with its own free ports.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "serial/network/network_comm_device.h"
#include "serial/port_error_kind.h"
#include "support/basic_form.h"
#include "support/cli_process.h"
#include "support/net_peers.h"
#include "support/sim_process.h"
#include "support/test_environment.h"
#include "support/text_lines.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using testing::CliRun;
using testing::LoopbackListener;
using testing::Program;

constexpr char kPython[] = ORNAT_DEBIAN_PYTHON;

class NetworkLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ORNAT_SKIP_IF_MISSING(::access("/usr/bin/socat", X_OK) != 0      ? "socat is missing"
                          : ::access("/usr/sbin/ser2net", X_OK) != 0 ? "ser2net is missing"
                                                                     : "");
    ORNAT_SKIP_IF_MISSING(testing::PythonModuleMissing(kPython, "pymodbus", "python3-pymodbus"));
  }
  CliRun Cli(const std::vector<std::string>& args) {
    return testing::RunCli(args, dir.path(), 30s);
  }
  std::string Url(const char* scheme, int port) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
  }
  testing::TempDir dir;
};

TEST_F(NetworkLine, TheCliQueriesAndWatchesTheDetectorOverEveryKindOfLine) {
  // A simulator of its own behind each server: two servers on one pty would share its bytes.
  testing::SimProcess sims[3];
  for (const auto& sim : sims) ASSERT_TRUE(sim.Started());
  const int socat_port = testing::FreeTcpPort(), raw_port = testing::FreeTcpPort(),
            rfc_port = testing::FreeTcpPort(), rtu_port = testing::FreeTcpPort(),
            gateway_port = testing::FreeTcpPort();
  // -t 0: a connection's child lets go of the pty as soon as its client has gone, not
  // half a second later while the next client's child reads it too.
  Program socat({"/usr/bin/socat", "-t", "0",
                 "TCP-LISTEN:" + std::to_string(socat_port) + ",reuseaddr,fork,bind=127.0.0.1",
                 "FILE:" + sims[0].pty_path() + ",raw,echo=0"},
                dir.path(), "socat");
  auto device = [&](int i) {
    return "  connector: serialdev," + sims[i].pty_path() + ",9600n81,local\n";
  };
  auto ser2net = testing::Ser2net(
      dir.path(), "connection: &raw\n  accepter: tcp,127.0.0.1," + std::to_string(raw_port) + "\n" +
                      device(1) + "connection: &rfc\n  accepter: telnet(rfc2217),tcp,127.0.0.1," +
                      std::to_string(rfc_port) + "\n" + device(2));
  Program rtu(
      {kPython, ORNAT_MODBUS_TCP_SCRIPT, "--port", std::to_string(rtu_port), "--framer", "rtu"},
      dir.path(), "rtu");
  Program gateway({kPython, ORNAT_MODBUS_TCP_SCRIPT, "--port", std::to_string(gateway_port),
                   "--framer", "socket"},
                  dir.path(), "gateway");
  ASSERT_TRUE(rtu.WaitFor("LISTENING") && gateway.WaitFor("LISTENING"))
      << rtu.Err() << gateway.Err();
  ASSERT_TRUE(testing::Listening(socat_port) && testing::Listening(rfc_port)) << ser2net->Out();
  for (const std::string& url :
       {Url("tcp", socat_port), Url("tcp", raw_port), Url("rfc2217", rfc_port),
        Url("tcp", rtu_port), Url("modbus-tcp", gateway_port)}) {
    const CliRun query = Cli({"query", "--port", url, "--json"});
    EXPECT_EQ(query.exit, 0) << url << ": " << query.err;
    EXPECT_EQ(nlohmann::json::parse(query.out, nullptr, false)["outcome"], "ok") << url;
    const CliRun watch = Cli({"watch", "--count", "3", "--port", url});
    EXPECT_EQ(watch.exit, 0) << url << ": " << watch.err;
    EXPECT_NE(watch.err.find("3 answered"), std::string::npos) << url << ": " << watch.err;
  }
}

TEST_F(NetworkLine, Rfc2217SpeedsReachTheServersPtyInEveryStep) {
  testing::SimProcess sim;
  ASSERT_TRUE(sim.Started());
  const int port = testing::FreeTcpPort();
  auto ser2net = testing::Ser2netRfc2217(dir.path(), port, sim.pty_path());
  ASSERT_TRUE(testing::Listening(port)) << ser2net->Out();
  {
    NetworkCommDevice device;
    ASSERT_EQ(device.Open(Url("rfc2217", port)), 0) << device.LastProblem();
    for (std::uint32_t speed : {1200u, 14400u, 19200u, 115200u, 9600u}) {
      LineSettings line;
      line.BaudRate = speed;
      line.ByteSize = 8;
      EXPECT_EQ(device.SetLineSettings(line), 0) << speed << ": " << device.LastProblem();
      EXPECT_EQ(testing::PtySpeed(sim.pty_path()), speed);
    }
  }
  // The detector moves to 19200 bit/s and answers there: the PC's new speed reached it.
  EXPECT_EQ(Cli({"set", "baud", "19200", "--port", Url("rfc2217", port)}).exit, 0);
  const CliRun query = Cli({"query", "--baud", "19200", "--port", Url("rfc2217", port)});
  EXPECT_EQ(query.exit, 0) << query.err;

  // The survey's sweep: each of the eight speeds in turn on the pty, the detector found
  // at the one it answers at.
  std::vector<unsigned> seen;
  std::atomic<bool> surveying{true};
  std::thread watch([&] {
    while (surveying) {
      const unsigned speed = testing::PtySpeed(sim.pty_path());
      if (seen.empty() || seen.back() != speed) seen.push_back(speed);
      std::this_thread::sleep_for(2ms);
    }
  });
  const CliRun survey = Cli({"survey", "--speeds", "all", "--addresses", "246-247", "--port",
                             Url("rfc2217", port), "--json"});
  surveying = false;
  watch.join();
  EXPECT_EQ(survey.exit, 0) << survey.err;
  EXPECT_NE(survey.out.find("\"baud\":19200"), std::string::npos) << survey.out;
  // Before the sweep: the 19200 of the query before, and ser2net's own 9600 for a new
  // connection.
  // After it, ser2net may put the port back to 9600 as the connection closes.
  const auto sweep = std::find(seen.begin(), seen.end(), 1200u);
  EXPECT_EQ(std::vector<unsigned>(sweep, sweep + std::min<std::ptrdiff_t>(8, seen.end() - sweep)),
            (std::vector<unsigned>{1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600}));

  // Back to 9600 bit/s; the interface reset goes out at 9600 bit/s and is acknowledged.
  EXPECT_EQ(Cli({"set", "baud", "9600", "--baud", "19200", "--port", Url("rfc2217", port)}).exit,
            0);
  const CliRun reset = Cli({"reset-interface", "--port", Url("rfc2217", port)});
  EXPECT_EQ(reset.exit, 0) << reset.err;
  EXPECT_EQ(testing::PtySpeed(sim.pty_path()), 9600u);
  EXPECT_EQ(Cli({"query", "--port", Url("rfc2217", port)}).exit, 0);
}

// Reads what the client sends until it closes (so that the client's close, not ours,
// ends the connection).
void Drain(int fd) {
  char b[256];
  while (::recv(fd, b, sizeof b, 0) > 0) {
  }
}

TEST_F(NetworkLine, ServersThatDropRefuseOrNeverAnswerEndTheExchangeWithTheRightStatus) {
  LoopbackListener drops([](int fd) {
    char b[8];
    ::recv(fd, b, sizeof b, MSG_WAITALL);  // the request, then the connection goes
  });
  // As ser2net answers a second client of a line in use: a word, and the connection goes.
  LoopbackListener busy([](int fd) {
    const char word[] = "Port's device already in use\r\n";
    ::send(fd, word, sizeof word - 1, MSG_NOSIGNAL);
  });
  LoopbackListener refuses([](int fd) {
    const unsigned char dont44[] = {0xFF, 0xFE, 0x2C};
    ::send(fd, dont44, sizeof dont44, MSG_NOSIGNAL);
    Drain(fd);
  });
  LoopbackListener silent({}, 0);
  LoopbackListener::Connection filler(silent.port());  // fills the queue: SYNs go unheard
  // A read pending when the server goes fails as an unplugged adapter's.
  {
    NetworkCommDevice device;
    ASSERT_EQ(device.Open(Url("tcp", drops.port())), 0);
    device.SetTimeouts({150, 0, 0, 0, 0});
    const std::uint8_t request[] = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};
    ASSERT_EQ(device.Write(request, 8).error, 0);
    std::uint8_t answer[8];
    const IoResult r = device.Read(answer, 8);
    EXPECT_EQ(ClassifyPortError(r.error, PortStep::kUse), PortErrorKind::kGone) << r.error;
  }
  // A gateway whose detector does not answer: its 0x0B is the silence it is, named.
  testing::SimProcess gateway({"--listen", "modbus-tcp://127.0.0.1:0", "--no-console"});
  ASSERT_TRUE(gateway.Started());
  const struct Case {
    std::vector<std::string> args;
    int exit;
    std::string says;
  } kCases[] = {
      {{"--address", "5", "--port", gateway.listen_url()},
       1,
       "(TIME OUT; the gateway answered exception 0x0B)"},
      // Never taken for the detector's silence.
      {{"--port", Url("tcp", drops.port())},
       3,
       "was lost while the answer from address 247 was awaited: the server closed the "
       "connection"},
      {{"--port", Url("tcp", busy.port())}, 3, "the server closed the connection"},
      // The device's own sentence, the system's words behind it.
      {{"--port", Url("rfc2217", refuses.port())},
       3,
       "the server refused COM-PORT-OPTION (RFC 2217): it cannot set the line's speed"},
      {{"--port", Url("rfc2217", refuses.port())}, 3, std::strerror(EPROTONOSUPPORT)},
      {{"--port", Url("tcp", silent.port())}, 3, std::strerror(ETIMEDOUT)},
      {{"--port", Url("tcp", testing::FreeTcpPort())}, 3, std::strerror(ECONNREFUSED)},
  };
  // The journal keeps the network's own frames beside the detector's RTU frames.
  const std::string journal = dir.path() + "/journal.jsonl";
  ASSERT_EQ(Cli({"query", "--port", gateway.listen_url(), "--journal", journal}).exit, 0);
  const auto record = nlohmann::json::parse(testing::FileText(journal));
  EXPECT_EQ(record["request"], "F7 03 00 00 00 08 50 9A");
  EXPECT_EQ(record["tcp_request"], "00 01 00 00 00 06 F7 03 00 00 00 08");
  EXPECT_EQ(record["tcp_answer"].get<std::string>().substr(0, 27), "00 01 00 00 00 13 F7 03 10 ");
  // A watch ends at the first: a server that closes each connection would keep it going.
  const CliRun watch = Cli({"watch", "--count", "3", "--port", Url("tcp", busy.port())});
  EXPECT_EQ(watch.exit, 3) << watch.err;
  EXPECT_NE(watch.err.find("the server closed the connection"), std::string::npos) << watch.err;
  for (const Case& c : kCases) {
    std::vector<std::string> args = {"query"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun r = Cli(args);
    EXPECT_EQ(r.exit, c.exit) << c.args.back() << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args.back() << ": " << r.err;
  }
}

}  // namespace
}  // namespace ornat
