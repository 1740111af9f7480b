// ornat-cli.exe under Wine over network lines on the loopback, Winsock end to end: the
// simulator serving as a device server (tcp://) and as a Modbus TCP gateway, and
// ser2net's RFC 2217 in front of the simulator's pty, which the speeds must reach.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/basic_form.h"
#include "support/net_peers.h"
#include "support/sim_process.h"
#include "support/test_environment.h"
#include "wine/wine_process.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;

class WineNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    ORNAT_SKIP_IF_MISSING(testing::WineSetupMissing({"src/cli/ornat-cli.exe"}));
    ORNAT_SKIP_IF_MISSING(::access("/usr/sbin/ser2net", X_OK) != 0 ? "ser2net is missing" : "");
  }
  testing::WineRun Cli(const std::vector<std::string>& args) {
    return testing::RunUnderWine(testing::WindowsProgram("src/cli/ornat-cli.exe"), args);
  }
  testing::TempDir dir;
};

TEST_F(WineNetwork, TheCliQueriesSetsTheSpeedAndSurveysOverNetworkLines) {
  for (const char* url : {"tcp://127.0.0.1:0", "modbus-tcp://127.0.0.1:0"}) {
    testing::SimProcess server({"--listen", url, "--no-console"});
    ASSERT_TRUE(server.Started()) << url;
    const testing::WineRun r = Cli({"query", "--port", server.listen_url()});
    EXPECT_EQ(r.exit, 0) << url << ": " << r.err;
    EXPECT_NE(r.out.find("НОРМА"), std::string::npos) << url << ": " << r.out;
  }

  testing::SimProcess sim;
  ASSERT_TRUE(sim.Started());
  const int port = testing::FreeTcpPort();
  auto ser2net = testing::Ser2netRfc2217(dir.path(), port, sim.pty_path());
  ASSERT_TRUE(testing::Listening(port)) << ser2net->Out();
  const std::string rfc = "rfc2217://127.0.0.1:" + std::to_string(port);
  const testing::WineRun set = Cli({"set", "baud", "19200", "--port", rfc});
  EXPECT_EQ(set.exit, 0) << set.err;
  // The survey goes through the eight speeds over RFC 2217; the detector answers at its
  // new one.
  const testing::WineRun survey =
      Cli({"survey", "--speeds", "all", "--addresses", "246-247", "--port", rfc, "--json"});
  EXPECT_EQ(survey.exit, 0) << survey.err;
  EXPECT_NE(survey.out.find("\"baud\":19200"), std::string::npos) << survey.out;
  // ser2net puts its port back to 9600 bit/s for each new connection: an answer at 19200
  // means this connection's setting reached the line.
  const testing::WineRun query = Cli({"query", "--baud", "19200", "--port", rfc});
  EXPECT_EQ(query.exit, 0) << query.err;
  EXPECT_NE(query.out.find("19200"), std::string::npos) << query.out;
}

}  // namespace
}  // namespace ornat
