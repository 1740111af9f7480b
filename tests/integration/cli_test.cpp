// ornat-cli as a program over a pseudo-terminal against ornat-sim with several
// detectors: the bytes on the wire (the simulator's wire log) against the window's for
// the same operation, the JSON it prints, its exit status, its journal, and bad
// arguments that must send nothing.

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "journal/exchange_journal.h"
#include "support/cli_process.h"
#include "support/holding_process.h"
#include "support/live_form.h"
#include "support/sim_process.h"
#include "support/text_lines.h"
#include "support/window_actions.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::CliProcess;
using testing::CliRun;
using testing::FileLines;
using testing::FramesHex;
using testing::LiveForm;
using testing::RunCli;
using testing::Settle;
using testing::SimProcess;
using testing::TextLines;
using testing::TypeAddress;

// Five detectors at 9600 bit/s (the one at 6 in alarm), one of another type, one that
// refuses everything, one at 19200 bit/s and one whose answers arrive garbled.
std::vector<std::string> Line() {
  return {"--detector", "247",        "--detector", "1",           "--detector", "5",
          "--detector", "6:alarm",    "--detector", "9:id=0x0011", "--detector", "12:exception=2",
          "--detector", "30:speed=6", "--detector", "40:crc=1"};
}

std::string Joined(const std::vector<std::string>& args) {
  std::string out;
  for (const auto& a : args) out += (out.empty() ? "" : " ") + a;
  return out;
}

TEST(Cli, EachCommandPutsTheWindowsOwnBytesOnTheWire) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::function<void(LiveForm&)> window;
    std::vector<std::string> requests;
  } cases[] = {
      {"query",
       {"query", "--address", "5"},
       [](LiveForm& f) {
         TypeAddress(f, 5);
         f.Click(f.w().TeButton5);
         Settle(f);
       },
       {"05 03 00 00 00 08 45 88"}},
      {"set tactic",
       {"set", "tactic", "T2MIN", "--address", "5"},
       [](LiveForm& f) {
         TypeAddress(f, 5);
         f.Click(f.w().T2MIN_Button);
         Settle(f);
       },
       {"05 06 00 04 00 03 89 8E"}},
      {"set test",
       {"set", "test", "on", "--address", "5"},
       [](LiveForm& f) {
         TypeAddress(f, 5);
         f.Click(f.w().TeButton5);
         Settle(f);
         f.Click(f.w().TST_Button);
         Settle(f);
       },
       {"05 03 00 00 00 08 45 88", "05 06 00 07 00 01 F8 4F"}},
      {"reset-alarm",
       {"reset-alarm", "--address", "6"},
       [](LiveForm& f) {
         TypeAddress(f, 6);
         f.Click(f.w().TeButton3);
         Settle(f);
       },
       {"06 06 00 06 AA 55 D6 E3"}},
      {"set address: the query at 8, then the write",
       {"set", "address", "8", "--address", "5"},
       [](LiveForm& f) {
         TypeAddress(f, 8);
         f.Click(f.w().TeButton5);
         Settle(f);
         TypeAddress(f, 5);
         f.Do([&] { f.w().TeSpinEdit2.SetText("8"); });
         f.Click(f.w().TeButton1);
         Settle(f);
       },
       {"08 03 00 00 00 08 44 95", "05 06 00 01 00 08 D8 48"}},
      {"service F0",
       {"service", "F0", "--address", "5"},
       [](LiveForm& f) {
         TypeAddress(f, 5);
         f.Click(f.w().Button1);
         Settle(f);
       },
       {"05 03 F0 00 00 0A F7 49"}},
      {"service F2",
       {"service", "f2", "--address", "5"},
       [](LiveForm& f) {
         TypeAddress(f, 5);
         f.Click(f.w().Button2);
         Settle(f);
       },
       {"05 03 F2 00 00 03 36 F7"}},
      {"service F3",
       {"service", "F3", "--address", "5"},
       [](LiveForm& f) {
         TypeAddress(f, 5);
         f.Click(f.w().Button3);
         Settle(f);
       },
       {"05 03 F3 00 00 02 F6 CB"}},
      {"set baud",
       {"set", "baud", "19200", "--address", "5"},
       [](LiveForm& f) {
         TypeAddress(f, 5);
         f.Do([&] { f.w().TeSComboBox1.Select(5); });
         Settle(f);
       },
       {"05 06 00 02 00 06 A9 8C"}},
      {"reset-interface",
       {"reset-interface"},
       [](LiveForm& f) {
         f.Click(f.w().TeButton2);
         Settle(f);
       },
       {"F7 06 00 01 00 F7 8D 1A", "F7 06 00 02 00 04 3D 5F"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimProcess cli_line(Line());
    SimProcess window_line(Line());
    ASSERT_TRUE(cli_line.Started() && window_line.Started());

    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const CliRun r = RunCli(args, cli_line.runtime_dir());
    EXPECT_EQ(r.exit, 0) << r.err;
    const json doc = json::parse(r.out);
    EXPECT_EQ(doc["command"], c.args[0] == "set" ? "set " + c.args[1] : c.args[0]);
    EXPECT_EQ(doc["outcome"], "ok");
    EXPECT_EQ(doc["exit"], 0);
    EXPECT_EQ(doc["port"], "ornat-sim");
    ASSERT_EQ(doc["exchanges"].size(), c.requests.size());
    for (std::size_t i = 0; i < c.requests.size(); ++i)
      EXPECT_EQ(doc["exchanges"][i]["request"], c.requests[i]);

    {
      LiveForm window(window_line.pty_path());
      c.window(window);
    }
    EXPECT_EQ(FramesHex(cli_line.WireRequests()), c.requests);
    EXPECT_EQ(FramesHex(cli_line.WireRequests()), FramesHex(window_line.WireRequests()));
    // The detector's answers too: the CLI got what the window got.
    EXPECT_EQ(FramesHex(cli_line.WireAnswers()), FramesHex(window_line.WireAnswers()));
  }
}

TEST(Cli, TheOutcomeDecidesTheExitStatus) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  struct Case {
    std::vector<std::string> args;
    int exit;
    const char* outcome;
    const char* message;
  } cases[] = {
      {{"query", "--address", "6"}, 0, "ok", ""},
      {{"query", "--address", "77"}, 1, "time-out", "no answer from address 77 at 9600 bit/s"},
      {{"query", "--address", "12"}, 4, "exception", "refused the request with exception code 2"},
      {{"query", "--address", "9"}, 4, "wrong-identity", "not an ORNAT(-2)-Zev (identity 0x0011)"},
      {{"query", "--address", "40"}, 4, "crc-error", "failed its CRC check"},
      {{"query", "--port", "/dev/ornat-no-such-port"},
       3,
       "port-error",
       "the port \"/dev/ornat-no-such-port\" cannot be opened"},
      {{"set", "tactic", "4", "--address", "12"}, 4, "exception", "exception code 2"},
      {{"set", "address", "8", "--address", "77"}, 1, "time-out", "no answer"},
      {{"set", "address", "6", "--address", "5"}, 4, "address-taken", "address 6 is taken"},
      {{"reset-alarm", "--address", "30"}, 1, "time-out", "no answer from address 30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const CliRun r = RunCli(args, sim.runtime_dir());
    EXPECT_EQ(r.exit, c.exit) << r.err;
    const json doc = json::parse(r.out);
    EXPECT_EQ(doc["outcome"], c.outcome);
    EXPECT_EQ(doc["exit"], c.exit);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    // A port's failure in the document as on stderr, not as the component's Windows code.
    if (c.exit == 3) {
      EXPECT_EQ("ornat-cli: " + doc["exchanges"].back()["failure"].get<std::string>() + "\n",
                r.err);
    }
  }
}

TEST(Cli, APortThatAnotherProgramHoldsIsAPortErrorThatNamesIt) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  testing::HoldingProcess cat({"/bin/cat", sim.pty_path()}, sim.pty_path());
  ASSERT_TRUE(cat.Started());
  testing::TempDir dir;
  const std::string path = dir.path() + "/busy.jsonl";
  const CliRun r = RunCli({"query", "--json", "--journal", path}, sim.runtime_dir());
  EXPECT_EQ(r.exit, 3);
  EXPECT_EQ(json::parse(r.out)["outcome"], "port-error");
  const std::string holder = "held by cat (pid " + std::to_string(cat.pid()) + ")";
  EXPECT_NE(r.err.find(holder), std::string::npos) << r.err;
  EXPECT_EQ(json::parse(r.out)["exchanges"][0]["failure"],
            "the port \"ornat-sim\" cannot be opened: " + holder);
  // The journal has the failed send with the log's two lines and the reason.
  const auto lines = FileLines(path);
  ASSERT_EQ(lines.size(), 1u);
  const json line = json::parse(lines[0]);
  EXPECT_EQ(line["end"], "send-failed");
  EXPECT_EQ(line["log"].back(), "   : " + holder);
  EXPECT_NE(line["failure"].get<std::string>().find(holder), std::string::npos);
  EXPECT_TRUE(sim.WireRequests().empty());
}

TEST(Cli, ABadArgumentNamesTheValidValuesAndSendsNothing) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"set", "address", "0"}, "a slave address is 1 to 247"},
      {{"set", "address", "300"}, "a slave address is 1 to 247"},
      {{"query", "--address", "0"}, "a slave address is 1 to 247"},
      {{"query", "--address", "300"}, "a slave address is 1 to 247"},
      {{"query", "--baud", "1234"}, "the speeds are 1200, 2400, 4800, 9600, 14400, 19200"},
      {{"set", "baud", "1000"}, "the speeds are 1200"},
      {{"set", "tactic", "1"}, "the tactics are 0 T1MAX, 2 T2MAX"},
      {{"set", "test", "yes"}, "on or off"},
      {{"search", "--delay", "90"}, "the delays are 100, 150, 200, 250, 300, 350 ms"},
      {{"survey", "--delay", "120"}, "the delays are 100, 150, 200, 250, 300, 350 ms"},
      {{"survey", "--addresses", "5-1"}, "runs backwards"},
      {{"reset"}, "unknown command \"reset\""},
      {{"reset-interface", "--address", "5"},
       "--address does not apply to reset-interface: the interface reset always writes to "
       "address 247 at 9600 bit/s"},
      {{"search", "--address", "5"}, "--address does not apply to search"},
      {{"ports", "--journal", "j.jsonl"}, "--journal does not apply to ports"},
      {{"query", "--force"}, "--force does not apply to query"},
      {{"service", "F1"}, "the blocks are F0, F2 and F3"},
      {{"query", "--speed", "9600"}, "unknown option \"--speed\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    const CliRun r = RunCli(c.args, sim.runtime_dir());
    EXPECT_EQ(r.exit, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_TRUE(sim.WireRequests().empty());
}

TEST(Cli, ASpeedChangeWhereTheServerKeepsItsSpeedIsRefusedUnlessForced) {
  SimProcess tcp({"--listen", "tcp://:0"});
  SimProcess gateway({"--listen", "modbus-tcp://:0"});
  ASSERT_TRUE(tcp.Started() && gateway.Started());
  const std::string refusal = "the server keeps its own speed, and the detector would be lost at ";
  const struct Case {
    std::vector<std::string> args;
    const char* lost_at;  // nullptr: not refused (RFC 2217 sets the server's speed)
  } cases[] = {
      {{"set", "baud", "19200", "--port", tcp.listen_url()}, "19200 bit/s"},
      {{"reset-interface", "--port", gateway.listen_url()}, "9600 bit/s"},
      {{"set", "baud", "19200", "--port", "rfc2217://127.0.0.1:1"}, nullptr},
      {{"set", "baud", "19200", "--port", "tcp://127.0.0.1:1", "--force"}, nullptr},
      {{"reset-interface", "--port", "modbus-tcp://127.0.0.1:1", "--force"}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    const CliRun r = RunCli(c.args, tcp.runtime_dir());
    EXPECT_EQ(r.exit == 2, c.lost_at != nullptr);
    EXPECT_EQ(r.err.find(refusal + (c.lost_at ? c.lost_at : "")) != std::string::npos,
              c.lost_at != nullptr)
        << r.err;
  }
  // Refused before the connection: neither server saw a client.
  for (const SimProcess* sim : {&tcp, &gateway}) EXPECT_TRUE(sim->WireEvents().empty());
}

TEST(Cli, TheJournalHasOneLinePerExchangeWithTheWiresOwnBytes) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  testing::TempDir dir;
  const std::string path = dir.path() + "/journal.jsonl";
  EXPECT_EQ(RunCli({"query", "--journal", path}, sim.runtime_dir()).exit, 0);
  EXPECT_EQ(
      RunCli({"set", "tactic", "5", "--address", "5", "--journal", path}, sim.runtime_dir()).exit,
      0);
  EXPECT_EQ(RunCli({"query", "--address", "77", "--journal", path}, sim.runtime_dir()).exit, 1);
  EXPECT_EQ(RunCli({"reset-interface", "--journal", path}, sim.runtime_dir()).exit, 0);
  const auto lines = FileLines(path);
  ASSERT_EQ(lines.size(), 5u);
  const auto requests = FramesHex(sim.WireRequests());
  ASSERT_EQ(requests.size(), 5u);
  std::vector<std::string> answers;
  const char* operations[] = {"query", "tactic", "query", "reset-step-1", "reset-step-2"};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    const json line = json::parse(lines[i]);
    EXPECT_EQ(line["program"], "ornat-cli");
    EXPECT_EQ(line["port"], "ornat-sim");
    EXPECT_EQ(line["baud"], 9600);
    EXPECT_EQ(line["operation"], operations[i]);
    EXPECT_EQ(line["request"], requests[i]);
    EXPECT_EQ(line["address"], std::stoi(requests[i].substr(0, 2), nullptr, 16));
    EXPECT_EQ(line["time"].get<std::string>().size(), 29u);  // 2024-05-02T14:03:07.123+02:00
    if (!line["answer"].get<std::string>().empty()) answers.push_back(line["answer"]);
    EXPECT_FALSE(line["log"].empty());
  }
  EXPECT_EQ(answers, FramesHex(sim.WireAnswers()));  // the time-out had none
  EXPECT_EQ(json::parse(lines[2])["log"].back(), "   : TIME OUT.");

  // A journal that cannot be opened: refused before anything is sent.
  const CliRun r = RunCli({"query", "--journal", dir.path() + "/no/such/j"}, sim.runtime_dir());
  EXPECT_EQ(r.exit, 3);
  EXPECT_NE(r.err.find("cannot open the journal"), std::string::npos) << r.err;
  EXPECT_EQ(sim.WireRequests().size(), 5u);
}

TEST(Cli, AJournalThatLosesExchangesMakesADoneCommandAPortError) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  // Every write to /dev/full fails as on a full disk; the exchanges themselves go on.
  struct Case {
    std::vector<std::string> args;
    int exit;
  } cases[] = {
      {{"query", "--address", "6"}, 3},
      {{"set", "tactic", "5", "--address", "5"}, 3},
      {{"query", "--address", "77"}, 1},  // no answer stays no answer
      {{"query", "--address", "12"}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    std::vector<std::string> args = c.args;
    for (const char* a : {"--journal", "/dev/full", "--json"}) args.push_back(a);
    const CliRun r = RunCli(args, sim.runtime_dir());
    EXPECT_EQ(r.exit, c.exit) << r.err;
    EXPECT_EQ(json::parse(r.out)["exit"], c.exit);
    if (c.exit == 3) {
      EXPECT_EQ(json::parse(r.out)["outcome"], "journal-incomplete");
    }
    EXPECT_NE(r.err.find("cannot write to the journal \"/dev/full\": No space left on device"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("the journal \"/dev/full\" misses 1 exchange(s)"), std::string::npos)
        << r.err;
  }
  // The write was sent and acknowledged all the same.
  EXPECT_EQ(FramesHex(sim.WireRequests())[1], "05 06 00 04 00 05 09 8C");
}

TEST(Cli, AKilledWatchLeavesEveryCompletedExchangeInTheJournal) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  testing::TempDir dir;
  const std::string path = dir.path() + "/watch.jsonl";
  CliProcess watch({"watch", "--address", "5", "--journal", path}, sim.runtime_dir());
  ASSERT_TRUE(watch.WaitForLines(3, 20s)) << watch.err();
  watch.Signal(SIGKILL);
  EXPECT_EQ(watch.Wait(10s), 128 + SIGKILL);
  const auto printed = TextLines(watch.out());
  const auto lines = FileLines(path);
  // Each answer is in the journal before its line is printed.
  EXPECT_GE(lines.size(), printed.size());
  const auto requests = FramesHex(sim.WireRequests());
  const auto answers = FramesHex(sim.WireAnswers());
  ASSERT_LE(lines.size(), requests.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const json line = json::parse(lines[i]);  // every line whole
    EXPECT_EQ(line["request"], requests[i]);
    EXPECT_EQ(line["answer"], answers.at(i));
  }
}

TEST(Cli, WatchPrintsEachAnswerMarksChangesAndStopsOnCtrlC) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  CliProcess watch({"watch", "--address", "6", "--json"}, sim.runtime_dir());
  ASSERT_TRUE(watch.WaitForLines(1, 20s)) << watch.err();
  ASSERT_TRUE(sim.Command("@6 normal"));
  ASSERT_TRUE(watch.WaitForLines(3, 20s)) << watch.err();
  watch.Signal(SIGINT);
  EXPECT_EQ(watch.Wait(20s), 0) << watch.err();
  const auto printed = TextLines(watch.out());
  ASSERT_GE(printed.size(), 3u);
  std::vector<std::string> states;
  int changes = 0;
  for (const auto& l : printed) {
    const json line = json::parse(l);
    EXPECT_EQ(line["outcome"], "ok");
    EXPECT_EQ(line["address"], 6);
    states.push_back(line["detector"]["state"]);
    if (!line["changed"].empty()) {
      ++changes;
      EXPECT_EQ(line["changed"], json::array({"state"}));
      EXPECT_EQ(line["detector"]["state"], "НОРМА");
    }
  }
  EXPECT_EQ(states.front(), "ТРЕВОГА");
  EXPECT_EQ(states.back(), "НОРМА");
  EXPECT_EQ(changes, 1);
  // Stopped as "СТОП" does: the query in flight was answered and printed; no other.
  EXPECT_EQ(sim.WireRequests().size(), printed.size());
  EXPECT_EQ(sim.WireAnswers().size(), printed.size());
  // The window's cyclic query: the parameter query to 6, again and again.
  for (const auto& f : sim.WireRequests()) EXPECT_EQ(f.hex, "06 03 00 00 00 08 45 BB");

  const CliRun counted = RunCli({"watch", "--address", "6", "--count", "2"}, sim.runtime_dir());
  EXPECT_EQ(counted.exit, 0);
  EXPECT_EQ(TextLines(counted.out).size(), 2u);
}

TEST(Cli, WatchEndsWithASummaryAndTheStatusQueryWouldGiveItsLastQuery) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  struct Case {
    const char* address;
    int exit;
    const char* summary;
  } cases[] = {
      {"6", 0, "watch done: 3 queries: 3 answered, 0 time-out(s), 0 wrong answer(s)"},
      {"77", 1, "watch done: 3 queries: 0 answered, 3 time-out(s), 0 wrong answer(s)"},
      {"9", 4, "watch done: 3 queries: 0 answered, 0 time-out(s), 3 wrong answer(s)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    const CliRun r = RunCli({"watch", "--address", c.address, "--count", "3"}, sim.runtime_dir());
    EXPECT_EQ(r.exit, c.exit) << r.err;
    EXPECT_EQ(TextLines(r.out).size(), 3u);
    EXPECT_NE(r.err.find(c.summary), std::string::npos) << r.err;
  }
  // Answers, then silence: the last query decides.
  CliProcess watch({"watch", "--address", "5", "--count", "5", "--json"}, sim.runtime_dir());
  ASSERT_TRUE(watch.WaitForLines(2, 20s)) << watch.err();
  ASSERT_TRUE(sim.Command("@5 silent on"));
  EXPECT_EQ(watch.Wait(20s), 1) << watch.err();
  const auto printed = TextLines(watch.out());
  ASSERT_EQ(printed.size(), 5u);
  EXPECT_EQ(json::parse(printed.front())["outcome"], "ok");
  EXPECT_EQ(json::parse(printed.back())["outcome"], "time-out");
  EXPECT_NE(watch.err().find("; the last: time-out"), std::string::npos) << watch.err();
}

TEST(Cli, SearchSendsTheWindowsProbesAndFindsTheFirstDetector) {
  const std::vector<std::string> line = {"--detector", "3", "--detector", "5"};
  SimProcess cli_line(line);
  SimProcess window_line(line);
  ASSERT_TRUE(cli_line.Started() && window_line.Started());
  const CliRun r = RunCli({"search", "--delay", "100", "--json"}, cli_line.runtime_dir());
  EXPECT_EQ(r.exit, 0) << r.err;
  const json doc = json::parse(r.out);
  EXPECT_EQ(doc["found"], true);
  EXPECT_EQ(doc["found_address"], 3);
  EXPECT_NE(r.err.find("search took"), std::string::npos);
  {
    LiveForm window(window_line.pty_path());
    window.Do([&] { window.w().CustomItem7.Click(); });
    window.Do([&] { window.w().CustomItem5.Click(); });
    Settle(window);
    EXPECT_EQ(window.state().DeviceAddress, 3);
  }
  EXPECT_EQ(FramesHex(cli_line.WireRequests()), FramesHex(window_line.WireRequests()));
  EXPECT_EQ(cli_line.WireRequests().front().hex, "01 03 00 00 00 01 84 0A");
}

TEST(Cli, LongWorkShowsItsProgressOnATerminalAndNowhereElse) {
  SimProcess sim({"--detector", "3", "--detector", "5"});
  ASSERT_TRUE(sim.Started());
  struct Case {
    std::vector<std::string> args;
    std::string progress;  // how every progress line starts
    std::string summary;   // the line that follows the cleared progress line
  } cases[] = {
      {{"search", "--delay", "100"}, "search: ", "search took "},
      {{"survey", "--addresses", "1-6"}, "survey: 9600 bit/s (1/1), ", "survey done: 2 device(s)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    CliProcess on_terminal(c.args, sim.runtime_dir(), CliProcess::Stderr::kTerminal);
    ASSERT_EQ(on_terminal.Wait(60s), 0) << on_terminal.err();
    const std::string& err = on_terminal.err();
    // Each progress line is drawn over the last: "\r", the text, erase to the end.
    std::vector<std::string> drawn;
    std::size_t pos = 0;
    while ((pos = err.find('\r', pos)) != std::string::npos) {
      const std::size_t end = err.find("\033[K", pos);
      ASSERT_NE(end, std::string::npos) << err;
      drawn.push_back(err.substr(pos + 1, end - pos - 1));
      pos = end;
    }
    ASSERT_GE(drawn.size(), 2u) << err;
    EXPECT_EQ(drawn.back(), "") << "the last progress line is cleared";
    for (std::size_t i = 0; i + 1 < drawn.size(); ++i) {
      EXPECT_EQ(drawn[i].rfind(c.progress, 0), 0u) << drawn[i];
      EXPECT_NE(drawn[i].find(" left"), std::string::npos) << drawn[i];
    }
    const std::size_t after = err.rfind("\033[K") + 3;
    EXPECT_EQ(err.substr(after, c.summary.size()), c.summary) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line of text after the progress";

    // On a pipe (a script, a log file) no progress at all.
    const CliRun piped = RunCli(c.args, sim.runtime_dir());
    EXPECT_EQ(piped.exit, 0);
    EXPECT_EQ(piped.err.find_first_of("\r\033"), std::string::npos) << piped.err;
    EXPECT_EQ(piped.err.rfind(c.summary, 0), 0u) << piped.err;
  }
}

TEST(Cli, SurveyReportsEveryDeviceOnTheLineAtEachSpeed) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  const CliRun r =
      RunCli({"survey", "--speeds", "9600,19200", "--addresses", "1-13,30,40,245-247", "--json"},
             sim.runtime_dir(), 120s);
  // A device that refused and one of another type are on the line.
  EXPECT_EQ(r.exit, 4) << r.err;
  const json doc = json::parse(r.out);
  EXPECT_EQ(doc["addresses"], "1-13,30,40,245-247");
  EXPECT_EQ(doc["windows_ms"]["9600"], 50);
  EXPECT_EQ(doc["windows_ms"]["19200"], 45);
  // The garbled answers of 40 are probed twice more.
  EXPECT_EQ(doc["probes"], 38);
  EXPECT_EQ(doc["late_answers"], 0);
  EXPECT_NE(r.err.find("survey done: 8 device(s), 38 probes (2 made again)"), std::string::npos)
      << r.err;

  struct Expected {
    int address;
    int baud;
    const char* kind;
    const char* state;  // after the parameter query; "" for none
  } expected[] = {
      {1, 9600, "detector", "НОРМА"},   {5, 9600, "detector", "НОРМА"},
      {6, 9600, "detector", "ТРЕВОГА"}, {9, 9600, "other-identity", ""},
      {12, 9600, "exception", ""},      {247, 9600, "detector", "НОРМА"},
      {40, 9600, "garbled", ""},        {30, 19200, "detector", "НОРМА"},
  };
  ASSERT_EQ(doc["devices"].size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].address);
    const json& d = doc["devices"][i];
    EXPECT_EQ(d["address"], expected[i].address);
    EXPECT_EQ(d["probed"], expected[i].address);
    EXPECT_EQ(d["baud"], expected[i].baud);
    EXPECT_EQ(d["kind"], expected[i].kind);
    if (std::string(expected[i].state).empty()) {
      EXPECT_FALSE(d.contains("detector"));
    } else {
      EXPECT_EQ(d["query_outcome"], "ok");
      EXPECT_EQ(d["detector"]["state"], expected[i].state);
      EXPECT_EQ(d["detector"]["type"], "VA329(/330) \"ОРНАТ(-2)-Zev\"");
    }
  }
  EXPECT_EQ(doc["devices"][3]["identity"], "0x0011");
  EXPECT_EQ(doc["devices"][4]["exception_code"], 2);
  // The garbled answers of 40 are noise at each of its three probes; that every one of
  // them was garbled makes 40 a device of its own kind, never "nothing".
  ASSERT_EQ(doc["noise"].size(), 3u);
  for (const json& n : doc["noise"]) EXPECT_EQ(n["probed"], 40);

  // On the wire: each address of the runs once per speed, then the detectors' queries.
  std::vector<int> probed;
  std::vector<int> queried;
  for (const auto& f : sim.WireRequests()) {
    const int address = std::stoi(f.hex.substr(0, 2), nullptr, 16);
    (f.hex.substr(3, 14) == "03 00 00 00 01" ? probed : queried).push_back(address);
  }
  std::vector<int> runs = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 30, 40, 245, 246, 247};
  std::vector<int> twice = {1,  2,  3,  4,  5,  6,  7,  8,   9,   10,
                            11, 12, 13, 30, 40, 40, 40, 245, 246, 247};
  twice.insert(twice.end(), runs.begin(), runs.end());
  EXPECT_EQ(probed, twice);
  EXPECT_EQ(queried, (std::vector<int>{1, 5, 6, 247, 30}));
}

TEST(Cli, PortsListsTheSimulatorsPort) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  const CliRun text = RunCli({"ports"}, sim.runtime_dir());
  EXPECT_EQ(text.exit, 0);
  EXPECT_EQ(TextLines(text.out).front(), "ornat-sim");
  const CliRun j = RunCli({"ports", "--json"}, sim.runtime_dir());
  const json doc = json::parse(j.out);
  EXPECT_EQ(doc["ports"][0], "ornat-sim");
  EXPECT_EQ(doc["selected"], "ornat-sim");
  EXPECT_TRUE(sim.WireRequests().empty());
}

// The requests on the simulator's wire, as hex.
std::vector<std::string> Requests(const SimProcess& sim) {
  return FramesHex(sim.WireRequests());
}

TEST(Cli, NamedLinesFollowThePortsAndANameGivenAsPortOpensItsTarget) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  const std::string lines = sim.runtime_dir() + "/config/ornat/lines";
  std::filesystem::create_directories(sim.runtime_dir() + "/config/ornat");
  std::ofstream(lines) << "Стенд = ornat-sim net-delay=0\nno equals sign\nsocat = /tmp/ttyV0\n";
  const std::string warning = "ornat-cli: the lines file \"" + lines +
                              "\", line 2: \"no equals sign\" is not NAME = TARGET\n";
  const CliRun text = RunCli({"ports"}, sim.runtime_dir());
  EXPECT_EQ(text.err, warning);  // once a run, the rest used
  EXPECT_EQ(text.out.substr(text.out.find("Стенд")),
            "Стенд = ornat-sim net-delay=0\nsocat = /tmp/ttyV0\n");
  const json doc = json::parse(RunCli({"ports", "--json", "-v"}, sim.runtime_dir()).out);
  EXPECT_EQ(doc["lines"][0],
            json::parse(R"({"name":"Стенд","target":"ornat-sim","net_delay_ms":0})"));
  EXPECT_EQ(doc["descriptions"][0], "") << "a registered virtual port has no adapter";
  const CliRun query = RunCli({"query", "--port", "Стенд", "--json"}, sim.runtime_dir());
  EXPECT_EQ(query.exit, 0);
  EXPECT_EQ(query.err, warning);
  EXPECT_EQ(json::parse(query.out)["port"], "ornat-sim");
}

bool HasRawControl(const std::string& text) {
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if ((b < 0x20 && b != '\n' && b != '\t') || b == 0x7F) return true;
  }
  return false;
}

TEST(Cli, AnAnswerFromAnotherAddressIsNotTheDetectorsAndTheAddressIsNamed) {
  SimProcess sim(
      {"--detector", "3:answer-from=4,alarm,tactic=8", "--detector", "247:answer-from=5"});
  ASSERT_TRUE(sim.Started());
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> messages;
    std::string request;
  } cases[] = {
      {{"query", "--address", "3"},
       {"address 4 answered the request to address 3 at 9600 bit/s on ornat-sim: not taken as "
        "the addressed device's answer"},
       "03 03 00 00 00 08 45 EE"},
      {{"set", "tactic", "0", "--address", "3"},
       {"address 4 answered the request to address 3",
        "the detector may have carried out the write all the same: only its acknowledgement is "
        "missing. Check with: ornat-cli query --port ornat-sim --address 3 --baud 9600"},
       "03 06 00 04 00 00 C9 E9"},
      {{"reset-alarm", "--address", "3"},
       {"address 4 answered the request to address 3", "may have carried out the write"},
       "03 06 00 06 AA 55 D6 B6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    const std::size_t before = sim.WireRequests().size();
    const CliRun text = RunCli(c.args, sim.runtime_dir());
    EXPECT_EQ(text.exit, 4) << text.err;
    EXPECT_EQ(text.out, "") << "nothing of the answer is printed";
    for (const std::string& m : c.messages)
      EXPECT_NE(text.err.find(m), std::string::npos) << text.err;
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const CliRun j = RunCli(args, sim.runtime_dir());
    EXPECT_EQ(j.exit, 4);
    const json doc = json::parse(j.out);
    EXPECT_EQ(doc["outcome"], "wrong-address");
    EXPECT_EQ(doc["exchanges"][0]["outcome"], "wrong-address");
    if (c.args[0] == "query") {
      EXPECT_TRUE(doc["detector"].is_null());
    }
    const auto after = Requests(sim);
    ASSERT_EQ(after.size(), before + 2);
    EXPECT_EQ(after[before], c.request);
    EXPECT_EQ(after[before + 1], c.request);
  }
  // The interface reset: neither step acknowledged by the unit at 247 answering as 5.
  const CliRun reset = RunCli({"reset-interface"}, sim.runtime_dir());
  EXPECT_EQ(reset.exit, 4) << reset.err;
  EXPECT_NE(reset.err.find("address 5 answered the request to address 247"), std::string::npos)
      << reset.err;
  EXPECT_NE(
      reset.err.find("Check with: ornat-cli query --port ornat-sim --address 247 --baud 9600"),
      std::string::npos)
      << reset.err;
  // The write went out and was carried out; only its acknowledgement came from another.
  EXPECT_NE(sim.Command("select 3")->find("tactic=0"), std::string::npos);
}

TEST(Cli, AWriteWithoutItsAcknowledgementSaysTheDetectorMayHaveCarriedItOut) {
  struct Case {
    const char* name;
    std::vector<std::string> line;
    std::vector<std::string> args;
    int exit;
    std::vector<std::string> messages;  // empty: no word of a write carried out
  } cases[] = {
      {"a slow detector",
       {"--detector", "5:delay=600"},
       {"set", "tactic", "4", "--address", "5"},
       1,
       {"no answer from address 5 at 9600 bit/s on ornat-sim (TIME OUT)",
        "the detector may have carried out the write all the same: only its acknowledgement is "
        "missing. Check with: ornat-cli query --port ornat-sim --address 5 --baud 9600"}},
      {"a CRC error",
       {"--detector", "6:crc=1"},
       {"reset-alarm", "--address", "6"},
       4,
       {"failed its CRC check", "Check with: ornat-cli query --port ornat-sim --address 6"}},
      {"an address change: both addresses to check",
       {"--detector", "6:crc=1"},
       {"set", "address", "9", "--address", "6"},
       4,
       {"Check with: ornat-cli query --port ornat-sim --address 9 --baud 9600 (the new "
        "address), or ornat-cli query --port ornat-sim --address 6 --baud 9600 (the old one)"}},
      {"a speed change: both speeds to check",
       {"--detector", "6:crc=1"},
       {"set", "baud", "19200", "--address", "6"},
       4,
       {"Check with: ornat-cli query --port ornat-sim --address 6 --baud 19200 (the new "
        "speed), or ornat-cli query --port ornat-sim --address 6 --baud 9600 (the old one)"}},
      {"a refusal is no write carried out",
       {"--detector", "12:exception=2"},
       {"set", "tactic", "4", "--address", "12"},
       4,
       {}},
      {"an acknowledged write",
       {"--detector", "5"},
       {"set", "tactic", "4", "--address", "5"},
       0,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimProcess sim(c.line);
    ASSERT_TRUE(sim.Started());
    const CliRun r = RunCli(c.args, sim.runtime_dir());
    EXPECT_EQ(r.exit, c.exit) << r.err;
    for (const std::string& m : c.messages) EXPECT_NE(r.err.find(m), std::string::npos) << r.err;
    if (c.messages.empty()) {
      EXPECT_EQ(r.err.find("may have carried out"), std::string::npos) << r.err;
    }
    if (std::string(c.name) == "a slow detector") {
      // As the message says: the slow detector did take it.
      EXPECT_NE(sim.Command("select 5")->find("tactic=4"), std::string::npos);
    }
  }
}

TEST(Cli, SetAddressLooksAtTheNewAddressFirstAndRefusesATakenOne) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exit;
    const char* message;
    std::vector<std::string> requests;
  } cases[] = {
      {"a detector there",
       {"set", "address", "6", "--address", "5"},
       4,
       "address 6 is taken: an ORNAT(-2)-Zev detector at address 6 answered the query there; "
       "nothing written. Choose a free address, or give --force",
       {"06 03 00 00 00 08 45 BB"}},
      {"a device of another type",
       {"set", "address", "9", "--address", "5"},
       4,
       "a device at address 9 of identity 0x0011 (not an ORNAT(-2)-Zev)",
       {"09 03 00 00 00 08 45 44"}},
      {"a device that refuses",
       {"set", "address", "12", "--address", "5"},
       4,
       "a device at address 12 that refused the query with exception code 2",
       {"0C 03 00 00 00 08 45 11"}},
      {"garbled bytes",
       {"set", "address", "40", "--address", "5"},
       4,
       "a device whose bytes form no answer",
       {"28 03 00 00 00 08 43 F5"}},
      {"nothing there",
       {"set", "address", "77", "--address", "5"},
       0,
       "",
       {"4D 03 00 00 00 08 4A 00", "05 06 00 01 00 4D 19 BB"}},
      {"--force: no look",
       {"set", "address", "6", "--address", "5", "--force"},
       0,
       "",
       {"05 06 00 01 00 06 59 8C"}},
      {"its own address: no look",
       {"set", "address", "5", "--address", "5"},
       0,
       "",
       {"05 06 00 01 00 05 19 8D"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimProcess sim(Line());
    ASSERT_TRUE(sim.Started());
    const CliRun r = RunCli(c.args, sim.runtime_dir());
    EXPECT_EQ(r.exit, c.exit) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Requests(sim), c.requests);
    if (c.exit == 0)
      EXPECT_NE(r.out.find(": acknowledged; use --address"), std::string::npos) << r.out;
    else
      EXPECT_EQ(r.out, "");
  }
}

TEST(Cli, OutputThatCannotBeWrittenIsAnErrorOfItsOwn) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  struct Case {
    std::vector<std::string> args;
    int exit;
    bool told;
  } cases[] = {
      {{"query", "--address", "5"}, 5, true},
      {{"query", "--address", "5", "--json"}, 5, true},
      {{"service", "F0", "--address", "5"}, 5, true},
      {{"--help"}, 5, true},
      {{"--version"}, 5, true},
      // Nothing to print: nothing lost; the command's own failure stands.
      {{"query", "--address", "77"}, 1, false},
      // Its own failure is told first, and stays the status.
      {{"query", "--address", "77", "--json"}, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    CliProcess p(c.args, sim.runtime_dir(), CliProcess::Stderr::kPipe, "/dev/full");
    EXPECT_EQ(p.Wait(60s), c.exit) << p.err();
    const std::string message = "cannot write to standard output: No space left on device";
    EXPECT_EQ(p.err().find(message) != std::string::npos, c.told) << p.err();
    if (c.exit == 5) {
      EXPECT_NE(p.err().find("the command was done, only what it printed is lost"),
                std::string::npos);
    }
  }
  // A reader that has gone: EPIPE, told, status 5, never a silent SIGPIPE (141).
  {
    CliProcess p({"query", "--address", "5", "--json"}, sim.runtime_dir());
    p.CloseStdout();
    EXPECT_EQ(p.Wait(60s), 5) << p.err();
    EXPECT_NE(p.err().find("cannot write to standard output: Broken pipe"), std::string::npos)
        << p.err();
  }
  // A watch whose reader goes away after the first line stops, as Ctrl-C stops it.
  const std::size_t before = sim.WireRequests().size();
  CliProcess watch({"watch", "--address", "5"}, sim.runtime_dir());
  ASSERT_TRUE(watch.WaitForLines(1, 20s)) << watch.err();
  watch.CloseStdout();
  EXPECT_EQ(watch.Wait(20s), 5) << watch.err();
  EXPECT_NE(watch.err().find("Broken pipe"), std::string::npos) << watch.err();
  // The line it could not print, and the one in flight then at most.
  EXPECT_LE(sim.WireRequests().size() - before, 3u);
}

TEST(Cli, AJournalWhoseOpenWouldWaitForAReaderIsRefusedAtOnce) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  testing::TempDir dir;
  const std::string fifo = dir.path() + "/journal.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // Bounded: a program that blocks in the open is killed and the case fails.
  const CliRun r = RunCli({"query", "--journal", fifo}, sim.runtime_dir(), 15s);
  EXPECT_EQ(r.exit, 3) << r.err;
  EXPECT_NE(r.err.find("cannot open the journal \"" + fifo +
                       "\": it is a FIFO (named pipe), whose open would wait for another "
                       "program; give a regular file"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(sim.WireRequests().empty());
}

TEST(Cli, ControlCharactersFromTheCommandLineOrTheSystemAreNeverWrittenRaw) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  const std::string port = "x\x1b[31m\x07";
  const std::string shown = "x\\u001B[31m\\u0007";
  {
    const CliRun r = RunCli({"query", "--port", port, "-v"}, sim.runtime_dir());
    EXPECT_EQ(r.exit, 3);
    EXPECT_FALSE(HasRawControl(r.out)) << r.out;
    EXPECT_FALSE(HasRawControl(r.err)) << r.err;
    EXPECT_NE(r.err.find("the port \"" + shown + "\" cannot be opened"), std::string::npos)
        << r.err;
    // The log's own line, as --verbose prints it.
    EXPECT_NE(r.out.find("   : ОШИБКА ОТКРЫТИЯ ПОРТА " + shown), std::string::npos) << r.out;
  }
  {
    const CliRun r = RunCli({"query", "--port", port, "--json"}, sim.runtime_dir());
    EXPECT_FALSE(HasRawControl(r.out.substr(0, r.out.size() - 1))) << r.out;
    EXPECT_EQ(json::parse(r.out)["port"], port);
  }
  {
    const CliRun r = RunCli({"qu\x1b]0;owned\x07"}, sim.runtime_dir());
    EXPECT_EQ(r.exit, 2);
    EXPECT_FALSE(HasRawControl(r.err)) << r.err;
    EXPECT_NE(r.err.find("unknown command \"qu\\u001B]0;owned\\u0007\""), std::string::npos)
        << r.err;
  }
  {
    // A program with ESC in its name holds the port: its name is told without it.
    testing::TempDir dir;
    const std::string holder = dir.path() + "/c\x1bt";
    std::filesystem::copy_file("/bin/cat", holder);
    std::filesystem::permissions(holder, std::filesystem::perms::owner_all);
    testing::HoldingProcess cat({holder, sim.pty_path()}, sim.pty_path());
    ASSERT_TRUE(cat.Started());
    const CliRun r = RunCli({"query"}, sim.runtime_dir());
    EXPECT_EQ(r.exit, 3);
    EXPECT_FALSE(HasRawControl(r.err)) << r.err;
    EXPECT_NE(r.err.find("held by c?t (pid " + std::to_string(cat.pid()) + ")"), std::string::npos)
        << r.err;
  }
  EXPECT_TRUE(sim.WireRequests().empty());
}

TEST(Cli, APortThatIsNoSerialDeviceSaysSoInTheCommandLinesWords) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  testing::TempDir dir;
  const std::string file = dir.path() + "/a-file";
  std::ofstream(file) << "not a port\n";
  const std::string fifo = dir.path() + "/a-fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  struct Case {
    std::string port;
    std::string message;
  } cases[] = {
      {"/dev/null", "the port \"/dev/null\" cannot be opened: not a serial device"},
      {file, "the port \"" + file + "\" cannot be opened: not a serial device"},
      {fifo, "the port \"" + fifo + "\" cannot be opened: not a serial device"},
      {dir.path() + "/none", "cannot be opened: no such device; \"ornat-cli ports\" lists"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    const CliRun r = RunCli({"query", "--port", c.port}, sim.runtime_dir(), 15s);
    EXPECT_EQ(r.exit, 3) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("win error code"), std::string::npos) << r.err;
  }
}

// ornat-cli run as the user nobody (root drops its privileges in the child), its output
// on pipes; the exit status, or -1 when it could not be run so.
CliRun RunAsNobody(const std::vector<std::string>& args, const std::string& runtime_dir) {
  CliRun r;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return r;
  std::vector<std::string> argv_text = {ORNAT_CLI_PATH};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string env_text = "XDG_RUNTIME_DIR=" + runtime_dir;
  char* envp[] = {env_text.data(), nullptr};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      _exit(127);
    execve(argv[0], argv.data(), envp);
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  for (auto [fd, into] : {std::pair{out[0], &r.out}, std::pair{err[0], &r.err}}) {
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
      into->append(buf, static_cast<std::size_t>(n));
    close(fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(Cli, APortThatIsNotPermittedSaysToJoinTheGroupDialout) {
  // The simulator's pty is root's, mode 0620, as /dev/ttyUSB0 is root's and the group
  // dialout's: the user nobody may not open it. A test that runs as root gets EACCES
  // only by dropping its privileges, which it does in the child.
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  struct stat st {};
  ASSERT_EQ(stat(sim.pty_path().c_str(), &st), 0);
  if (getuid() != 0 && st.st_uid == getuid())
    GTEST_SKIP() << "runs as the pty's owner and not as root: no user to open it as";
  testing::TempDir dir;
  chmod(dir.path().c_str(), 0755);
  const CliRun r = RunAsNobody({"query", "--port", sim.pty_path()}, dir.path());
  if (r.exit == 127) GTEST_SKIP() << "could not run ornat-cli as nobody: " << r.err;
  EXPECT_EQ(r.exit, 3) << r.err;
  EXPECT_NE(r.err.find("the port \"" + sim.pty_path() +
                       "\" cannot be opened: permission denied: add yourself to the group "
                       "dialout (sudo usermod -aG dialout $USER, then log out and in again)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("win error code"), std::string::npos) << r.err;
  EXPECT_TRUE(sim.WireRequests().empty());
}

TEST(Cli, ServiceReadsPrintTheBlocksRegistersRaw) {
  SimProcess sim(Line());
  ASSERT_TRUE(sim.Started());
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"service", "F0", "--address", "5"},
       "F000  01 49\nF001  02 07\nF002  01 22\nF003  88 65\nF004  07 E3\nF005  0A 11\n"
       "F006  00 00\nF007  3A 2C\nF008  00 03\nF009  00 01\n"},
      {{"service", "F2", "--address", "5"}, "F200  00 02\nF201  01 9F\nF202  00 EC\n"},
      {{"service", "F2", "--address", "6"}, "F200  00 B4\nF201  0B 36\nF202  00 EC\n"},  // alarm
      {{"service", "F3", "--address", "5"}, "F300  00 F1\nF301  00 00\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    const CliRun r = RunCli(c.args, sim.runtime_dir());
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
  const CliRun j = RunCli({"service", "F3", "--address", "5", "--json"}, sim.runtime_dir());
  const json doc = json::parse(j.out);
  EXPECT_EQ(doc["block"], "F3");
  EXPECT_EQ(doc["registers"], json::parse(R"([{"register":"0xF300","value":241,"bytes":"00 F1"},
                                              {"register":"0xF301","value":0,"bytes":"00 00"}])"));
  // A device that refuses, one that does not answer.
  EXPECT_EQ(RunCli({"service", "F0", "--address", "12"}, sim.runtime_dir()).exit, 4);
  EXPECT_EQ(RunCli({"service", "F0", "--address", "77"}, sim.runtime_dir()).exit, 1);
}
}  // namespace
}  // namespace ornat
