// ornat-sim --listen: the simulated detector behind a TCP port, talked to with plain
// sockets as a device server's or a Modbus TCP gateway's client talks to it.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "model/modbus_crc.h"
#include "support/hex.h"
#include "support/loopback_client.h"
#include "support/sim_process.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kQuery = "F7 03 00 00 00 08 50 9A";
constexpr const char* kQueryAnswer =
    "F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00 51 4E";

struct ExchangeCase {
  const char* name;
  std::vector<std::string> args;
  // Sent one after another, 20 ms apart: the gateway frames by the MBAP length (on
  // tcp:// such a pause would be a silence on the serial line, which ends a frame).
  std::vector<const char*> segments;
  const char* answer;
};

class SimListenExchange : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(SimListenExchange, AnswersTheRequestAsTheServerWould) {
  const ExchangeCase& c = GetParam();
  SimProcess sim(c.args);
  ASSERT_TRUE(sim.Started());
  LoopbackClient client(sim.listen_url());
  ASSERT_TRUE(client.connected()) << sim.listen_url();
  for (const char* segment : c.segments) {
    ASSERT_TRUE(client.Send(FromHex(segment)));
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(ToHex(client.Read(FromHex(c.answer).size(), 2s)), c.answer);
  EXPECT_EQ(ToHex(client.Read(1, 100ms)), "") << "nothing behind it";
}

INSTANTIATE_TEST_SUITE_P(
    Listen, SimListenExchange,
    ::testing::Values(
        ExchangeCase{"RtuFramesOverTcp", {"--listen", "tcp://:0"}, {kQuery}, kQueryAnswer},
        ExchangeCase{"ModbusTcpEchoesTheTransactionId",
                     {"--listen", "modbus-tcp://:0"},
                     {"12 34 00 00 00 06 F7 03 00 00 00 08"},
                     "12 34 00 00 00 13 F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00"},
        ExchangeCase{"ModbusTcpOverIpv6WithTheHeaderSplitOff",
                     {"--listen", "modbus-tcp://[::1]:0"},
                     {"BE EF 00 00", "00 06 F7 06 00 04 00 03"},
                     "BE EF 00 00 00 06 F7 06 00 04 00 03"},
        ExchangeCase{"SilentDetectorIsTheGatewaysException0B",
                     {"--listen", "modbus-tcp://:0", "--silent"},
                     {"00 07 00 00 00 06 F7 03 00 00 00 08"},
                     "00 07 00 00 00 03 F7 83 0B"},
        ExchangeCase{"BadCrcOnTheSerialSideIsException0B",
                     {"--listen", "modbus-tcp://:0", "--bad-crc", "1"},
                     {"00 08 00 00 00 06 F7 03 00 00 00 08"},
                     "00 08 00 00 00 03 F7 83 0B"},
        ExchangeCase{"GatewayPassesOnTheAnswerNotTheEchoNorATrailingByte",
                     {"--listen", "modbus-tcp://:0", "--echo", "--trailing", "1"},
                     {"00 09 00 00 00 06 F7 03 00 00 00 08"},
                     "00 09 00 00 00 13 F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimListen, ServesOneClientAtATimeAndTheNextWhenTheFirstHasGone) {
  SimProcess sim({"--listen", "tcp://:0"});
  ASSERT_TRUE(sim.Started());
  LoopbackClient first(sim.listen_url());
  ASSERT_TRUE(first.Send(FromHex(kQuery)));
  EXPECT_EQ(ToHex(first.Read(21, 1s)), kQueryAnswer);
  LoopbackClient second(sim.listen_url());
  ASSERT_TRUE(second.Send(FromHex(kQuery)));
  EXPECT_EQ(ToHex(second.Read(1, 300ms)), "") << "served while the first is connected";
  first.Close();
  EXPECT_EQ(ToHex(second.Read(21, 2s)), kQueryAnswer);
}

TEST(SimListen, TheServerKeepsItsSpeedSoADetectorSetToAnotherIsLost) {
  SimProcess sim({"--listen", "tcp://:0"});
  ASSERT_TRUE(sim.Started());
  LoopbackClient client(sim.listen_url());
  sim::Bytes set_speed = {0xF7, 0x06, 0x00, 0x02, 0x00, 0x06};  // 19200 bit/s
  sim::AppendCrc(set_speed);
  ASSERT_TRUE(client.Send(set_speed));
  EXPECT_EQ(ToHex(client.Read(8, 1s)), ToHex(set_speed)) << "the echo, at the old speed";
  std::this_thread::sleep_for(20ms);  // the line's silence after an answer, as a master keeps
  ASSERT_TRUE(client.Send(FromHex(kQuery)));
  EXPECT_EQ(ToHex(client.Read(1, 300ms)), "");
  EXPECT_EQ(sim.WireRequests().back().note, "foreign-speed");
}

TEST(SimListen, RefusesWhatItCannotListenOn) {
  for (const char* url : {"rfc2217://127.0.0.1:0", "tcp://127.0.0.1", "127.0.0.1:5020",
                          "tcp://[::1:5020", "udp://:5020"}) {
    const std::string command =
        std::string(ORNAT_SIM_PATH) + " --no-console --listen '" + url + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << url;
  }
}

}  // namespace
}  // namespace ornat::testing
