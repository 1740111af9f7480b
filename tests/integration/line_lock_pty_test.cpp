// Two ornat-cli on one ornat-sim: while a watch runs, a second command is refused at
// once, naming it, and puts nothing on the line; of two started at one instant exactly
// one runs.

#include <gtest/gtest.h>
#include <signal.h>

#include "support/cli_process.h"
#include "support/sim_process.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

TEST(LineLockPty, ASecondCommandIsRefusedNamingTheFirstAndOfTwoAtOneInstantOneRuns) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  CliProcess watch({"--port", "ornat-sim", "watch"}, sim.runtime_dir());
  ASSERT_TRUE(watch.WaitForLines(1, 20s)) << watch.err();
  const std::string pid = std::to_string(watch.pid());
  // By the pty's path, the line's other name; the watch asks address 247 only.
  for (const Strings& c :
       {Strings{"watch"}, Strings{"query"}, Strings{"search"}, Strings{"query", "--json"}}) {
    Strings args = {"--port", sim.pty_path(), "--address", "5"};
    if (c[0] == "search") args.resize(2);
    args.insert(args.end(), c.begin(), c.end());
    const CliRun r = RunCli(args, sim.runtime_dir());
    EXPECT_EQ(r.exit, 3) << r.err;
    EXPECT_NE(r.err.find("ornat-cli: the line \"" + sim.pty_path() +
                         "\" is in use by ornat-cli watch --port ornat-sim (pid " + pid +
                         "); wait for it to end or stop it"),
              std::string::npos)
        << r.err;
    if (c.back() == "--json") {
      EXPECT_NE(r.out.find("\"outcome\":\"port-error\",\"exit\":3,\"line_in_use\":{\"pid\":" + pid +
                           ",\"runs\":\"ornat-cli watch --port ornat-sim\"}"),
                std::string::npos)
          << r.out;
    }
  }
  watch.Signal(SIGINT);
  EXPECT_EQ(watch.Wait(10s), 0) << watch.err();
  for (const auto& f : sim.WireRequests()) EXPECT_EQ(f.hex, "F7 03 00 00 00 08 50 9A");

  for (int round = 0; round < 3; ++round) {
    const Strings args = {"--port", "ornat-sim", "watch", "--count", "2"};
    CliProcess a(args, sim.runtime_dir()), b(args, sim.runtime_dir());
    const std::string pids[] = {std::to_string(a.pid()), std::to_string(b.pid())};
    const int exits[] = {a.Wait(30s), b.Wait(30s)};
    const int loser = exits[0] == 3 ? 0 : 1;
    EXPECT_EQ(exits[loser], 3) << a.err() << b.err();
    EXPECT_EQ(exits[1 - loser], 0);
    EXPECT_NE((loser ? b : a).err().find("(pid " + pids[1 - loser] + ")"), std::string::npos);
  }
}

}  // namespace
}  // namespace ornat::testing
