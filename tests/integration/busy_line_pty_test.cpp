// ornat-cli on a busy line of slaves that are not ours (support/busy_line.py: pymodbus's
// serial server for each unit behind one pseudo-terminal): several units with
// turnarounds up to 140 ms, noise, two units at one address, a transmitter's trailing
// byte, two programs at one port, a unit that is not a detector and a silent line, as
// engineers meet them in the field.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/busy_line.h"
#include "support/cli_process.h"

namespace ornat::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::vector<std::string> kSixUnits = {"--unit=10",
                                            "--unit=11:turnaround=30",
                                            "--unit=12:turnaround=45",
                                            "--unit=13:turnaround=60",
                                            "--unit=14:turnaround=100",
                                            "--unit=15:turnaround=140"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The command's JSON document, or an empty object when its output is none.
json Document(const CliRun& r) {
  json doc = json::parse(r.out, nullptr, false);
  return doc.is_discarded() ? json::object() : doc;
}

std::string LastLine(const std::string& text) {
  const std::string t = text.substr(0, text.find_last_not_of('\n') + 1);
  return t.substr(t.rfind('\n') == std::string::npos ? 0 : t.rfind('\n') + 1);
}

TEST(BusyLinePty, TheSurveyFindsAndQueriesEveryUnitWhateverItsTurnaroundAndTheNoise) {
  ORNAT_SKIP_IF_MISSING(BusyLineMissing());
  const struct {
    const char* name;
    std::vector<std::string> extra;
  } cases[] = {{"a quiet line", {}},
               {"noise: 5 bytes every 300 ms", {"--noise", "5@300", "--seed", "7"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BusyLine line(With(kSixUnits, c.extra));
    ASSERT_TRUE(line.Started()) << BusyLine::Why();
    const CliRun r = RunCli({"survey", "--port", line.port_name(), "--addresses", "9-16", "--json"},
                            line.runtime_dir());
    EXPECT_EQ(r.exit, 0) << r.err;
    std::vector<int> queried_ok;
    std::string queries;
    for (const json& d : Document(r).value("devices", json::array())) {
      if (d["kind"] == "detector" && d["query_outcome"] == "ok") queried_ok.push_back(d["address"]);
      queries += d["address"].dump() + ": " + d["query_log"].dump() + "\n";
    }
    std::sort(queried_ok.begin(), queried_ok.end());
    EXPECT_EQ(queried_ok, (std::vector<int>{10, 11, 12, 13, 14, 15})) << queries;
  }
}

TEST(BusyLinePty, TwoDevicesAtOneAddressAreToldAsSuchNotTakenForOne) {
  ORNAT_SKIP_IF_MISSING(BusyLineMissing());
  // The pair at 247 for the survey, and at 2 for the search, which goes from 1 up.
  for (const std::string how : {"", ":collide"}) {
    SCOPED_TRACE(how.empty() ? "one answering after the other" : "both at once, colliding");
    BusyLine line({"--unit", "2", "--unit", "2" + how, "--unit", "247", "--unit", "247" + how});
    ASSERT_TRUE(line.Started()) << BusyLine::Why();
    const std::vector<std::string> survey = {"survey", "--port", line.port_name(), "--addresses",
                                             "246-247"};
    const CliRun text = RunCli(survey, line.runtime_dir());
    EXPECT_EQ(text.exit, 6);
    EXPECT_NE((text.out + text.err).find("two or more devices answer at address 247"),
              std::string::npos)
        << text.out << text.err;
    const CliRun js = RunCli(With(survey, {"--json"}), line.runtime_dir());
    EXPECT_EQ(js.exit, 6);
    bool several = false;
    for (const json& d : Document(js).value("devices", json::array()))
      several = several || (d["address"] == 247 && d.value("several_devices", false));
    EXPECT_TRUE(several) << js.err;
    // The search probes each address once: answers that collide every time are no
    // answer, but never "nothing answered".
    const CliRun search = RunCli({"search", "--port", line.port_name()}, line.runtime_dir());
    EXPECT_EQ(search.exit, how.empty() ? 6 : 4);
    EXPECT_NE((search.out + search.err)
                  .find(how.empty() ? "two or more devices answer at address 2"
                                    : "but bytes that form no answer came after the probe(s) to"),
              std::string::npos)
        << search.out << search.err;
  }
}

TEST(BusyLinePty, ATrailingByteWrittenWithTheAnswerIsToldAndJournalled) {
  ORNAT_SKIP_IF_MISSING(BusyLineMissing());
  BusyLine line({"--unit", "10:tail"});
  ASSERT_TRUE(line.Started()) << BusyLine::Why();
  const std::string journal = line.runtime_dir() + "/journal.jsonl";
  const CliRun r = RunCli(
      {"survey", "--port", line.port_name(), "--addresses", "9-11", "--json", "--journal", journal},
      line.runtime_dir());
  const json doc = Document(r);
  ASSERT_EQ(doc.value("devices", json::array()).size(), 1u) << r.out << r.err;
  EXPECT_EQ(doc["devices"][0]["trailing_byte"], true);
  std::ifstream in(journal);
  std::vector<std::string> probe_answers;
  for (std::string l; std::getline(in, l);) {
    const json rec = json::parse(l);
    if (rec["operation"] == "probe" && rec["address"] == 10) probe_answers.push_back(rec["answer"]);
  }
  EXPECT_EQ(probe_answers, std::vector<std::string>{"0A 03 02 00 10 1C 49 00"});
}

TEST(BusyLinePty, ASecondWatchOfThePortIsRefusedAtOnceNamingTheFirst) {
  ORNAT_SKIP_IF_MISSING(BusyLineMissing());
  BusyLine line({"--unit", "247"});
  ASSERT_TRUE(line.Started()) << BusyLine::Why();
  const std::vector<std::string> watch = {"watch", "--port", line.port_name()};
  {
    CliProcess first(watch, line.runtime_dir());
    ASSERT_TRUE(first.WaitForLines(1, 10s)) << first.err();
    const CliRun second = RunCli(With(watch, {"--count", "2"}), line.runtime_dir(), 20s);
    EXPECT_EQ(second.exit, 3) << second.out;
    EXPECT_NE(second.err.find("pid " + std::to_string(first.pid())), std::string::npos)
        << second.err;
    EXPECT_NE(second.err.find("watch"), std::string::npos) << second.err;
    first.Signal(SIGINT);
    first.Wait(10s);
  }
  // Started at the same instant: exactly one runs, the other is refused.
  CliProcess a(With(watch, {"--count", "2"}), line.runtime_dir());
  CliProcess b(With(watch, {"--count", "2"}), line.runtime_dir());
  std::vector<int> exits = {a.Wait(20s), b.Wait(20s)};
  std::sort(exits.begin(), exits.end());
  EXPECT_EQ(exits, (std::vector<int>{0, 3})) << a.err() << b.err();
}

TEST(BusyLinePty, WatchWithACountEndsWithTheStatusOfWhatItSawAndASummary) {
  ORNAT_SKIP_IF_MISSING(BusyLineMissing());
  const struct {
    const char* name;
    std::vector<std::string> line;
    int exit;
  } cases[] = {{"a device that is not a detector", {"--unit", "247:id=0x0011"}, 4},
               {"nothing answering at 247", {"--unit", "5"}, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BusyLine line(c.line);
    ASSERT_TRUE(line.Started()) << BusyLine::Why();
    const CliRun r =
        RunCli({"watch", "--port", line.port_name(), "--count", "3"}, line.runtime_dir());
    EXPECT_EQ(r.exit, c.exit) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
    EXPECT_NE(LastLine(r.err), "") << r.err;
  }
}

}  // namespace
}  // namespace ornat::testing
