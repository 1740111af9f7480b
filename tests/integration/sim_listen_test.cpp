// ornat-sim --listen, talked to with plain sockets as a device server's or a Modbus TCP
// gateway's client talks to it.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <thread>

#include "support/hex.h"
#include "support/loopback_client.h"
#include "support/sim_process.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kQuery = "F7 03 00 00 00 08 50 9A";
constexpr const char* kAnswer = "F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00 51 4E";
std::string MbapQuery(const std::string& t) {
  return t + " 00 00 00 06 F7 03 00 00 00 08";
}
std::string MbapAnswer(const std::string& t) {
  return t + " 00 00 00 13 F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00";
}

TEST(SimListen, AnswersAsADeviceServerOrAGatewayWould) {
  struct Case {
    std::vector<std::string> args;
    // Sent 50 ms apart: on tcp:// a pause ends a frame, as on the serial line.
    std::vector<std::string> segments;
    std::string answer;
  } const cases[] = {
      {{"tcp://:0"}, {kQuery}, kAnswer},
      // The server keeps its speed: the detector echoes at the old one and is lost.
      {{"tcp://:0"}, {"F7 06 00 02 00 06 BC 9E", kQuery}, "F7 06 00 02 00 06 BC 9E"},
      {{"modbus-tcp://:0"}, {"00 01 00 01 00 06 F7 03 00 00 00 08"}, ""},  // not MBAP
      {{"modbus-tcp://:0"}, {MbapQuery("00 09")}, MbapAnswer("00 09")},
      // Joined in one segment: the gateway sends the second once the first is answered.
      {{"modbus-tcp://:0"},
       {MbapQuery("00 01") + " " + MbapQuery("00 02")},
       MbapAnswer("00 01") + " " + MbapAnswer("00 02")},
      {{"modbus-tcp://[::1]:0"},
       {"BE EF 00", "00 00 06 F7 06 00 04 00 03"},
       "BE EF 00 00 00 06 F7 06 00 04 00 03"},
      {{"modbus-tcp://:0", "--silent"}, {MbapQuery("00 07")}, "00 07 00 00 00 03 F7 83 0B"},
      {{"modbus-tcp://:0", "--bad-crc", "1"}, {MbapQuery("00 08")}, "00 08 00 00 00 03 F7 83 0B"},
      // Neither an adapter's echo nor a trailing 0x00 (which closes a good CRC) goes on.
      {{"modbus-tcp://:0", "--echo", "--trailing", "1"}, {MbapQuery("12 34")}, MbapAnswer("12 34")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--listen");
    SimProcess sim(args);
    ASSERT_TRUE(sim.Started());
    LoopbackClient client(sim.listen_url());
    for (const std::string& segment : c.segments) {
      ASSERT_TRUE(client.Send(FromHex(segment)));
      std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(ToHex(client.Read(FromHex(c.answer).size(), 2s)), c.answer);
    EXPECT_EQ(ToHex(client.Read(1, 100ms)), "") << "nothing behind it";
  }
}

TEST(SimListen, ServesOneClientAtATimeAndTheNextWhenTheFirstHasGone) {
  SimProcess sim({"--listen", "tcp://:0"});
  ASSERT_TRUE(sim.Started());
  LoopbackClient first(sim.listen_url());
  ASSERT_TRUE(first.Send(FromHex(kQuery)));
  EXPECT_EQ(ToHex(first.Read(21, 2s)), kAnswer);
  LoopbackClient second(sim.listen_url());
  ASSERT_TRUE(second.Send(FromHex(kQuery)));
  EXPECT_EQ(ToHex(second.Read(1, 300ms)), "") << "served while the first is connected";
  first.Close();
  EXPECT_EQ(ToHex(second.Read(21, 2s)), kAnswer);
}

TEST(SimListen, RefusesWhatItCannotListenOn) {
  for (const char* url :
       {"rfc2217://127.0.0.1:0", "tcp://127.0.0.1", "tcp://[::1:50", "udp://:5"}) {
    const int status = std::system(
        (std::string(ORNAT_SIM_PATH) + " --no-console --listen '" + url + "' 2>/dev/null").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << url;
  }
}

}  // namespace
}  // namespace ornat::testing
