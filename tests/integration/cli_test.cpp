// ornat-cli as a program over a pseudo-terminal against ornat-sim with several
// detectors: the bytes on the wire (the simulator's wire log) against the window's for
// the same operation, the JSON it prints, its exit status, its journal, and bad
// arguments that must send nothing.

#include <gtest/gtest.h>

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

namespace ornat {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::CliProcess;
using testing::CliRun;
using testing::LiveForm;
using testing::RunCli;
using testing::SimProcess;

// Five detectors at 9600 bit/s (the one at 6 in alarm), one of another type, one that
// refuses everything, one at 19200 bit/s and one whose answers arrive garbled.
std::vector<std::string> Line() {
  return {"--detector", "247",        "--detector", "1",           "--detector", "5",
          "--detector", "6:alarm",    "--detector", "9:id=0x0011", "--detector", "12:exception=2",
          "--detector", "30:speed=6", "--detector", "40:crc=1"};
}

std::vector<std::string> Hex(const std::vector<SimProcess::WireAnswer>& frames) {
  std::vector<std::string> out;
  for (const auto& f : frames) out.push_back(f.hex);
  return out;
}

std::string Joined(const std::vector<std::string>& args) {
  std::string out;
  for (const auto& a : args) out += (out.empty() ? "" : " ") + a;
  return out;
}

std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> StdoutLines(const std::string& out) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < out.size()) {
    const std::size_t nl = out.find('\n', pos);
    lines.push_back(out.substr(pos, nl - pos));
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return lines;
}

// The window's logic on the same kind of line, doing what the engineer does in it.
void Settle(LiveForm& f) {
  ASSERT_TRUE(f.RunUntil([&] { return !f.w().Working(); }, 15s));
}
void TypeAddress(LiveForm& f, int address) {
  f.Do([&] {
    f.w().TeSpinEdit1.SetText(std::to_string(address));
    f.w().TeSpinEdit1.KeyPress('\r');
  });
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
      {"set address",
       {"set", "address", "8", "--address", "5"},
       [](LiveForm& f) {
         TypeAddress(f, 5);
         f.Do([&] { f.w().TeSpinEdit2.SetText("8"); });
         f.Click(f.w().TeButton1);
         Settle(f);
       },
       {"05 06 00 01 00 08 D8 48"}},
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
    EXPECT_EQ(Hex(cli_line.WireRequests()), c.requests);
    EXPECT_EQ(Hex(cli_line.WireRequests()), Hex(window_line.WireRequests()));
    // The detector's answers too: the CLI got what the window got.
    EXPECT_EQ(Hex(cli_line.WireAnswers()), Hex(window_line.WireAnswers()));
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
  const auto requests = Hex(sim.WireRequests());
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
  EXPECT_EQ(answers, Hex(sim.WireAnswers()));  // the time-out had none
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
    EXPECT_NE(r.err.find("cannot write to the journal \"/dev/full\": No space left on device"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("the journal \"/dev/full\" misses 1 exchange(s)"), std::string::npos)
        << r.err;
  }
  // The write was sent and acknowledged all the same.
  EXPECT_EQ(Hex(sim.WireRequests())[1], "05 06 00 04 00 05 09 8C");
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
  const auto printed = StdoutLines(watch.out());
  const auto lines = FileLines(path);
  // Each answer is in the journal before its line is printed.
  EXPECT_GE(lines.size(), printed.size());
  const auto requests = Hex(sim.WireRequests());
  const auto answers = Hex(sim.WireAnswers());
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
  const auto printed = StdoutLines(watch.out());
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
  EXPECT_EQ(StdoutLines(counted.out).size(), 2u);
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
  EXPECT_EQ(Hex(cli_line.WireRequests()), Hex(window_line.WireRequests()));
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
  EXPECT_NE(r.err.find("survey done: 7 device(s), 38 probes (2 made again)"), std::string::npos)
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
      {30, 19200, "detector", "НОРМА"},
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
  // The garbled answers of 40 are noise, not a device, at each of its three probes.
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
  EXPECT_EQ(StdoutLines(text.out).front(), "ornat-sim");
  const CliRun j = RunCli({"ports", "--json"}, sim.runtime_dir());
  const json doc = json::parse(j.out);
  EXPECT_EQ(doc["ports"][0], "ornat-sim");
  EXPECT_EQ(doc["selected"], "ornat-sim");
  EXPECT_TRUE(sim.WireRequests().empty());
}

}  // namespace
}  // namespace ornat
