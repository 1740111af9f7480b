// Answers from another address over a real pseudo-terminal: the window's logic (the
// real port, its event thread) and ornat-cli against ornat-sim's detector that answers
// as another, and against a slave that is not ours, pymodbus's RTU server, answering
// with its own unit id, echoing a write that differs, or sitting at an address that a
// detector is to be moved to.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/busy_line.h"
#include "support/cli_process.h"
#include "support/line_texts.h"
#include "support/live_form.h"
#include "support/sim_process.h"
#include "support/window_actions.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using ForeignSlave = testing::BusyLine;
using testing::LiveForm;
using testing::RunCli;
using testing::Settle;
using testing::SimProcess;
using testing::TypeAddress;

// A detector's registers as pymodbus holds them: identity, address, speed code, state,
// tactic, latching, reset, test.
const char* kAlarmIrMax = "0x10,3,4,1,8,0,0,1";

TEST(AnswerAddressPty, TheWindowTakesNothingFromAUnitAnsweringAsAnother) {
  ORNAT_SKIP_IF_MISSING(testing::BusyLineMissing());
  // ornat-sim's detector at 3 answering as 4, and pymodbus's server answering every
  // unit id as 4: the same for the window. In alarm with tactic IRMAX, so an answer
  // taken would show.
  SimProcess sim({"--answer-from", "4", "--detector", "3:alarm,tactic=8,test"});
  ForeignSlave pymodbus({"--answer-as", "4", "--registers", kAlarmIrMax});
  ASSERT_TRUE(sim.Started());
  ASSERT_TRUE(pymodbus.Started()) << ForeignSlave::Why();
  for (const std::string& port : {sim.pty_path(), pymodbus.pty_path()}) {
    SCOPED_TRACE(port);
    LiveForm f(port);
    TypeAddress(f, 3);
    // A single query, then the cyclic one for two answers, then a tactic write.
    f.Click(f.w().TeButton5);
    Settle(f);
    EXPECT_EQ(f.LogLines().back(), testing::kWrongAddressPrefix + "004");
    f.Click(f.w().TeCheckBox1);
    f.Click(f.w().TeButton5);
    ASSERT_TRUE(f.RunToCompletion(5s));
    ASSERT_TRUE(f.RunToCompletion(5s));
    f.Click(f.w().TeButton5);  // "СТОП"
    Settle(f);
    EXPECT_EQ(f.LogLines().back(), testing::kWrongAddressPrefix + "004");
    EXPECT_EQ(f.w().StatusGrid.Cell(1, 0), "");
    EXPECT_EQ(f.w().StatusGrid.Cell(1, 1), "");
    EXPECT_FALSE(f.w().IRMAX_Button.Checked());
    EXPECT_FALSE(f.w().TST_Button.Checked());
    f.Do([&] { f.w().TeCheckBox1.Click(); });
    f.Click(f.w().T2MIN_Button);
    Settle(f);
    EXPECT_EQ(f.LogLines().back(), testing::kWrongAddressPrefix + "004");
    EXPECT_EQ(f.state().DeviceAddress, 3);
  }
  // On the simulator's wire: the three queries and the one write the engineer asked
  // for, nothing written back.
  const std::vector<std::string> requests = testing::FramesHex(sim.WireRequests());
  const std::string query = "03 03 00 00 00 08 45 EE";
  EXPECT_EQ(requests, (std::vector<std::string>{query, query, query, "03 06 00 04 00 03 89 E8"}));
}

TEST(AnswerAddressPty, AForeignSlaveEchoingAnAddressChangeFromItsOldAddressAcknowledgesIt) {
  ORNAT_SKIP_IF_MISSING(testing::BusyLineMissing());
  ForeignSlave pymodbus({"--unit", "3", "--registers", kAlarmIrMax});
  ASSERT_TRUE(pymodbus.Started()) << ForeignSlave::Why();
  LiveForm f(pymodbus.pty_path());
  TypeAddress(f, 3);
  f.Do([&] { f.w().TeSpinEdit2.SetText("9"); });
  f.Click(f.w().TeButton1);
  Settle(f);
  EXPECT_EQ(f.LogLines().back(), testing::kOkLine);
  EXPECT_EQ(f.state().DeviceAddress, 9);
}

TEST(AnswerAddressPty, OrnatCliAgainstAForeignSlaveSaysWhichAddressAnswered) {
  ORNAT_SKIP_IF_MISSING(testing::BusyLineMissing());
  struct Case {
    const char* name;
    std::vector<std::string> slave;
    std::vector<std::string> args;
    int exit;
    const char* outcome;
    std::vector<std::string> messages;
  } cases[] = {
      {"a slave of its own unit id answers a query",
       {"--unit", "3", "--registers", kAlarmIrMax},
       {"query", "--address", "3"},
       0,
       "ok",
       {}},
      {"a slave answering as 4",
       {"--answer-as", "4", "--registers", kAlarmIrMax},
       {"query", "--address", "3"},
       4,
       "wrong-address",
       {"address 4 answered the request to address 3 at 9600 bit/s"}},
      {"a write acknowledged by 4",
       {"--answer-as", "4", "--registers", kAlarmIrMax},
       {"set", "tactic", "0", "--address", "3"},
       4,
       "wrong-address",
       {"address 4 answered the request to address 3",
        "the detector may have carried out the write all the same",
        "Check with: ornat-cli query --port "}},
      {"an echo that differs from the write",
       {"--unit", "3", "--echo-value", "7", "--registers", kAlarmIrMax},
       {"set", "tactic", "2", "--address", "3"},
       4,
       "echo-differs",
       {"the echo differs from the request: sent 03 06 00 04 00 02 48 28, echoed 03 06 00 04 "
        "00 07",
        "the detector may have carried out the write all the same"}},
      {"a write's echo in answer to a query (a late echo, say)",
       {"--unit", "3", "--answer-raw", "03 06 00 04 00 04"},
       {"query", "--address", "3"},
       4,
       "wrong-function",
       {"the answer from address 3 at 9600 bit/s on /dev/pts/",
        "is no answer to the query: function code 6 (a write's echo, the late answer to an "
        "earlier request?)"}},
      {"a service block the slave lacks",
       {"--unit", "3", "--registers", kAlarmIrMax},
       {"service", "F0", "--address", "3"},
       4,
       "exception",
       {"refused the request with exception code 2"}},
      {"set address onto the foreign slave's address",
       {"--unit", "8", "--registers", "0x11,8,4,0,0,0,0,0"},
       {"set", "address", "8", "--address", "3"},
       4,
       "address-taken",
       {"address 8 is taken: a device at address 8 of identity 0x0011 (not an ORNAT(-2)-Zev) "
        "answered the query there; nothing written"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ForeignSlave pymodbus(c.slave);
    ASSERT_TRUE(pymodbus.Started()) << ForeignSlave::Why();
    testing::TempDir dir;
    std::vector<std::string> args = c.args;
    for (const std::string& a : {std::string("--port"), pymodbus.pty_path(), std::string("--json")})
      args.push_back(a);
    const testing::CliRun r = RunCli(args, dir.path());
    EXPECT_EQ(r.exit, c.exit) << r.err;
    const json doc = json::parse(r.out);
    EXPECT_EQ(doc["outcome"], c.outcome);
    EXPECT_EQ(doc["exit"], c.exit);
    for (const std::string& m : c.messages) EXPECT_NE(r.err.find(m), std::string::npos) << r.err;
    if (c.args[0] == "query" && c.exit != 0) {
      EXPECT_TRUE(doc["detector"].is_null());
    }
    if (c.exit == 0) {
      EXPECT_EQ(doc["detector"]["state"], "ТРЕВОГА");
      EXPECT_EQ(doc["detector"]["tactic"]["name"], "IRMAX");
    }
    if (c.args[1] == "address") {
      // Only the look at 8: nothing was written.
      ASSERT_EQ(doc["exchanges"].size(), 1u);
      EXPECT_EQ(doc["exchanges"][0]["request"], "08 03 00 00 00 08 44 95");
    }
  }
}

}  // namespace
}  // namespace ornat
