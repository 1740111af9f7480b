// ornat-cli survey as a program over pseudo-terminals: against ornat-sim with what the
// field does (turnarounds of 0 to 40 ms, unpaced answers, an adapter that hands bytes
// over in 16 ms bursts, 1200 and 57600 bit/s, several speeds in one run, trailing and
// stray bytes, failed CRCs, echoes, exceptions; slow neighbours, noise, two units at one
// address, and ornat-cli search on them), against a line this test writes
// itself (heavy noise, a late answer, an answer no probe asks for), and against a
// Modbus slave that is not ours (pymodbus).

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/basic_form.h"
#include "support/busy_line.h"
#include "support/cli_process.h"
#include "support/hex.h"
#include "support/line_texts.h"
#include "support/sim_process.h"
#include "support/text_lines.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::CliProcess;
using testing::CliRun;
using testing::FileText;
using testing::RunCli;
using testing::SimProcess;
using testing::ToHex;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The addresses probed, in order, as the simulator read the requests.
std::vector<int> ProbedOnTheWire(const SimProcess& sim) {
  std::vector<int> out;
  for (const auto& f : sim.WireRequests())
    if (f.hex.size() >= 17 && f.hex.substr(3, 14) == "03 00 00 00 01")
      out.push_back(std::stoi(f.hex.substr(0, 2), nullptr, 16));
  return out;
}

std::vector<int> Addresses(std::initializer_list<std::pair<int, int>> runs, int times = 1) {
  std::vector<int> out;
  for (int t = 0; t < times; ++t)
    for (const auto& [first, last] : runs)
      for (int a = first; a <= last; ++a) out.push_back(a);
  return out;
}

struct Device {
  int address;
  int baud;
  const char* kind;
};

void ExpectDevices(const json& doc, const std::vector<Device>& expected) {
  ASSERT_EQ(doc["devices"].size(), expected.size()) << doc.dump(1);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].address);
    const json& d = doc["devices"][i];
    EXPECT_EQ(d["address"], expected[i].address);
    EXPECT_EQ(d["probed"], expected[i].address);
    EXPECT_EQ(d["baud"], expected[i].baud);
    EXPECT_EQ(d["kind"], expected[i].kind);
    EXPECT_EQ(d["late"], false);
    if (std::string(expected[i].kind) == "detector") {
      EXPECT_EQ(d["query_outcome"], "ok");
    }
  }
}

struct LineCase {
  const char* name;
  std::string sim;
  std::string cli;
  std::vector<Device> devices;
  std::vector<int> probed;
};

// CTest's names show the case's own, not its bytes.
void PrintTo(const LineCase& c, std::ostream* os) {
  *os << c.name;
}

// The two detectors most cases put at 5 and 6, at 9600 bit/s.
const std::vector<Device> kFiveAndSix = {{5, 9600, "detector"}, {6, 9600, "detector"}};

const LineCase kLines[] = {
    {"neighbours and both ends, 30 ms",
     "--turnaround 30 --detector 1 --detector 5 --detector 6 --detector 246 --detector 247",
     "--addresses 1-7,241-247",
     {{1, 9600, "detector"},
      {5, 9600, "detector"},
      {6, 9600, "detector"},
      {246, 9600, "detector"},
      {247, 9600, "detector"}},
     Addresses({{1, 7}, {241, 247}})},
    {"0 ms", "--turnaround 0 --detector 5 --detector 6", "--addresses 4-7", kFiveAndSix,
     Addresses({{4, 7}})},
    {"1 ms", "--turnaround 1 --detector 5 --detector 6", "--addresses 4-7", kFiveAndSix,
     Addresses({{4, 7}})},
    {"40 ms", "--turnaround 40 --detector 5 --detector 6", "--addresses 4-7", kFiveAndSix,
     Addresses({{4, 7}})},
    {"unpaced, 0 ms", "--turnaround 0 --unpaced --detector 5 --detector 6", "--addresses 4-7",
     kFiveAndSix, Addresses({{4, 7}})},
    {"unpaced, 40 ms", "--turnaround 40 --unpaced --detector 5 --detector 6", "--addresses 4-7",
     kFiveAndSix, Addresses({{4, 7}})},
    {"an adapter's 16 ms bursts, 5 ms",
     "--turnaround 5 --adapter-latency 16 --detector 5 --detector 6", "--addresses 4-7",
     kFiveAndSix, Addresses({{4, 7}})},
    {"an adapter's 16 ms bursts, 20 ms, unpaced",
     "--turnaround 20 --adapter-latency 16 --unpaced --detector 5 --detector 6", "--addresses 4-7",
     kFiveAndSix, Addresses({{4, 7}})},
    {"1200 bit/s, 40 ms, adapter 16 ms",
     "--turnaround 40 --adapter-latency 16 --detector 5:speed=1 --detector 6:speed=1",
     "--addresses 4-7 --baud 1200",
     {{5, 1200, "detector"}, {6, 1200, "detector"}},
     Addresses({{4, 7}})},
    // At 57600 bit/s the window leaves 1.8 ms above 40 ms, less than the simulator's
    // own lateness on a busy machine; 40 ms is exact on the virtual clock.
    {"57600 bit/s, 30 ms",
     "--turnaround 30 --detector 5:speed=8 --detector 6:speed=8",
     "--addresses 4-7 --baud 57600",
     {{5, 57600, "detector"}, {6, 57600, "detector"}},
     Addresses({{4, 7}})},
    {"several speeds in one run",
     "--turnaround 30 --detector 5 --detector 6:speed=6 --detector 7:speed=1 "
     "--detector 8:speed=8,unpaced",
     "--addresses 4-9 --speeds 9600,19200,1200,57600",
     {{5, 9600, "detector"}, {6, 19200, "detector"}, {7, 1200, "detector"}, {8, 57600, "detector"}},
     Addresses({{4, 9}}, 4)},
};

class SurveyOnALine : public ::testing::TestWithParam<LineCase> {};

TEST_P(SurveyOnALine, FindsEveryDeviceAtItsOwnAddress) {
  const LineCase& c = GetParam();
  {
    SimProcess sim(Split(c.sim));
    ASSERT_TRUE(sim.Started());
    const CliRun r = RunCli(Concat({"survey", "--json"}, Split(c.cli)), sim.runtime_dir(), 30s);
    EXPECT_EQ(r.exit, 0) << r.err;
    const json doc = json::parse(r.out);
    ExpectDevices(doc, c.devices);
    EXPECT_TRUE(doc["noise"].empty()) << doc["noise"].dump();
    EXPECT_EQ(doc["late_answers"], 0);
    EXPECT_EQ(doc["probes_again"], 0);
    EXPECT_EQ(ProbedOnTheWire(sim), c.probed);
    EXPECT_NE(r.err.find("survey done: " + std::to_string(c.devices.size()) + " device(s)"),
              std::string::npos)
        << r.err;
  }
}

std::string CaseName(const char* name) {
  std::string out;
  for (const char* p = name; *p != 0; ++p)
    out += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return out;
}

INSTANTIATE_TEST_SUITE_P(FieldTurnaroundsAndPacing, SurveyOnALine, ::testing::ValuesIn(kLines),
                         [](const auto& p) { return CaseName(p.param.name); });

struct OddCase {
  const char* name;
  std::string sim;
  int exit;
  std::vector<Device> devices;
  std::vector<int> probed;
  const char* before;  // of the device at 5
  const char* after;
  std::size_t noise;
  const char* stderr_has;
};

void PrintTo(const OddCase& c, std::ostream* os) {
  *os << c.name;
}

// The one device, at 5 and 9600 bit/s.
std::vector<Device> At5(const char* kind) {
  return {{5, 9600, kind}};
}

const OddCase kOdd[] = {
    {"a trailing byte in the answer's own burst", "--detector 5:trailing=1,unpaced", 0,
     At5("detector"), Addresses({{4, 7}}), "", "00", 0, "[trailing byte 00]"},
    {"a trailing byte", "--detector 5:trailing=1", 0, At5("detector"), Addresses({{4, 7}}), "",
     "00", 0, "[trailing byte 00]"},
    {"stray bytes in front", "--detector 5:stray=3", 0, At5("detector"), Addresses({{4, 7}}),
     "FF FF FF", "", 0, "[amid 3 stray byte(s)]"},
    {"an echoing adapter", "--detector 5:echo", 0, At5("detector"), Addresses({{4, 7}}), "", "", 0,
     "survey done: 1 device(s)"},
    {"an exception", "--detector 5:exception=2", 4, At5("exception"), Addresses({{4, 7}}), "", "",
     0, "exception 2 (refused the probe)"},
    {"every CRC fails", "--detector 5:crc=1", 4, At5("garbled"),
     Addresses({{4, 5}, {5, 5}, {5, 5}, {6, 7}}), "", "", 3,
     "its answers failed their CRC check at every probe (3)"},
};

class SurveyOfOddAnswers : public ::testing::TestWithParam<OddCase> {};

TEST_P(SurveyOfOddAnswers, TellsThemApartAndProbesAgainAfterAFailedCrc) {
  const OddCase& c = GetParam();
  {
    SimProcess sim(Split(c.sim));
    ASSERT_TRUE(sim.Started());
    const std::string journal = sim.runtime_dir() + "/survey.jsonl";
    const CliRun r = RunCli({"survey", "--json", "--addresses", "4-7", "--journal", journal},
                            sim.runtime_dir(), 30s);
    EXPECT_EQ(r.exit, c.exit) << r.err;
    const json doc = json::parse(r.out);
    ExpectDevices(doc, c.devices);
    if (!c.devices.empty()) {
      const json& d = doc["devices"][0];
      EXPECT_EQ(d["before"], c.before);
      EXPECT_EQ(d["after"], c.after);
      EXPECT_EQ(d["trailing_byte"], std::string(c.after).size() == 2);
      // The journal holds every byte the probe's exchange read, as the device's line.
      const std::string read = std::string(c.before) + (*c.before ? " " : "") +
                               d["answer"].get<std::string>() + (*c.after ? " " : "") + c.after;
      EXPECT_NE(FileText(journal).find(read + "\",\"reads\""), std::string::npos) << read;
    }
    ASSERT_EQ(doc["noise"].size(), c.noise);
    for (std::size_t k = 0; k < c.noise; ++k) {
      EXPECT_EQ(doc["noise"][k]["probed"], 5);
      EXPECT_EQ(doc["noise"][k]["attempt"], static_cast<int>(k) + 1);
    }
    EXPECT_EQ(ProbedOnTheWire(sim), c.probed);
    // The text the engineer reads says it too.
    const CliRun text = RunCli({"survey", "--addresses", "4-7"}, sim.runtime_dir(), 30s);
    EXPECT_NE((text.out + text.err).find(c.stderr_has), std::string::npos) << text.out << text.err;
  }
}

INSTANTIATE_TEST_SUITE_P(TrailingStrayEchoExceptionCrc, SurveyOfOddAnswers,
                         ::testing::ValuesIn(kOdd),
                         [](const auto& p) { return CaseName(p.param.name); });

struct BusyCase {
  const char* name;
  std::string sim;
  const char* addresses;
  std::vector<int> detectors;  // queried well
  int several;                 // the address two units share (status 6), or 0
};

void PrintTo(const BusyCase& c, std::ostream* os) {
  *os << c.name;
}

const BusyCase kBusy[] = {
    {"slow neighbours, 0 to 140 ms",
     "--detector 10 --detector 11:delay=30 --detector 12:delay=45 --detector 13:delay=60 "
     "--detector 14:delay=100 --detector 15:delay=140",
     "8-18",
     {10, 11, 12, 13, 14, 15},
     0},
    {"five noise bytes every 300 ms",
     "--noise 5@300 --detector 3 --detector 5 --detector 8 --detector 12",
     "1-14",
     {3, 5, 8, 12},
     0},
    {"two units at 15, both answers whole",
     "--detector 15 --detector 15:delay=20 --detector 17",
     "13-18",
     {17},
     15},
    {"two units at 15, answers ANDed",
     "--detector 15 --detector 15:tactic=3 --detector 17",
     "13-18",
     {17},
     15},
};

class SurveyOnABusyLine : public ::testing::TestWithParam<BusyCase> {};

TEST_P(SurveyOnABusyLine, QueriesEachDetectorWellAtTheDefaultPaceAndTellsTwoUnitsAtOneAddress) {
  const BusyCase& c = GetParam();
  SimProcess sim(Split(c.sim));
  ASSERT_TRUE(sim.Started());
  const CliRun r = RunCli({"survey", "--json", "--addresses", c.addresses}, sim.runtime_dir(), 30s);
  const int exit = c.several != 0 ? 6 : 0;
  EXPECT_EQ(r.exit, exit) << r.err;
  const json doc = json::parse(r.out);
  EXPECT_EQ(doc["exit"], exit);
  std::vector<int> well;
  int late = 0;
  for (const json& d : doc["devices"]) {
    EXPECT_NE(d["probed"], 0) << d;
    late += d["late"].get<bool>() ? 1 : 0;
    EXPECT_EQ(d["several_devices"], d["address"] == c.several) << d;
    if (d["address"] != c.several && d["query_outcome"] == "ok") well.push_back(d["address"]);
  }
  EXPECT_EQ(well, c.detectors) << r.out;
  EXPECT_EQ(doc["late_answers"], late);
  if (c.several == 0) return;
  const CliRun text = RunCli({"survey", "--addresses", c.addresses}, sim.runtime_dir(), 30s);
  const std::string said = "two or more devices answer at address " + std::to_string(c.several);
  EXPECT_NE(text.out.find(said), std::string::npos) << text.out;
  const std::string advice =
      ": power them one at a time and give each its own address with "
      "\"ornat-cli set address\"";
  EXPECT_NE(text.err.find(said + advice), std::string::npos) << text.err;
  // The window's search says it too, and the journal names the probe that held both.
  if (c.sim.find("delay") == std::string::npos) return;
  const std::string journal = sim.runtime_dir() + "/search.jsonl";
  const CliRun search = RunCli({"search", "--json", "--journal", journal}, sim.runtime_dir(), 30s);
  EXPECT_EQ(search.exit, 6) << search.err;
  EXPECT_EQ(json::parse(search.out)["several_devices"], true);
  EXPECT_NE(search.err.find(said + advice), std::string::npos) << search.err;
  const std::string lines = FileText(journal), mark = "\"outcome\":\"several-devices\"";
  EXPECT_NE(lines.find(mark), std::string::npos);
  EXPECT_EQ(lines.find(mark), lines.rfind(mark));  // one probe held both answers
}

INSTANTIATE_TEST_SUITE_P(SlowNeighboursNoiseTwoUnits, SurveyOnABusyLine, ::testing::ValuesIn(kBusy),
                         [](const auto& p) { return CaseName(p.param.name); });

TEST(SurveyPty, PrintsEachDeviceAsItIsFoundAndTheSummaryTellsAStopFromNothingFound) {
  {
    SimProcess sim({"--detector", "3"});
    ASSERT_TRUE(sim.Started());
    CliProcess p({"survey", "--addresses", "1-40"}, sim.runtime_dir());
    ASSERT_TRUE(p.WaitForLines(1, 20s));
    // The line of 3 is out while the survey still goes on towards 40.
    EXPECT_EQ(p.out().rfind("  3   9600  detector  НОРМА", 0), 0u) << p.out();
    EXPECT_EQ(p.err().find("survey "), std::string::npos) << p.err();
    EXPECT_EQ(p.Wait(30s), 0);
    EXPECT_NE(p.err().find("survey done: 1 device(s), 40 probes"), std::string::npos) << p.err();
  }
  {
    // Ctrl-C in the middle: a stop, not "no device answered".
    SimProcess sim({"--silent"});
    ASSERT_TRUE(sim.Started());
    CliProcess p({"survey"}, sim.runtime_dir());
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (ProbedOnTheWire(sim).size() < 10 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(10ms);
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(20s), 1);
    EXPECT_NE(p.err().find("nothing found before the stop"), std::string::npos) << p.err();
    EXPECT_NE(p.err().find("survey stopped by Ctrl-C at address "), std::string::npos) << p.err();
    EXPECT_EQ(p.err().find("no device answered"), std::string::npos) << p.err();
    EXPECT_LT(ProbedOnTheWire(sim).size(), 247u);
    // To its end: nothing answered.
    const CliRun r = RunCli({"survey", "--addresses", "1-5"}, sim.runtime_dir());
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no device answered"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("survey done: 0 device(s), 5 probes"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("stopped"), std::string::npos) << r.err;
  }
}

// A line this test plays itself: a pseudo-terminal whose master it holds (the survey
// opens the slave by its path), reading the requests and answering through `answer`,
// and putting noise on it when asked. Runs on a thread of its own until destroyed.
class PlayedLine {
 public:
  // What to send for a request, and how long after it.
  struct Reply {
    Bytes bytes;
    std::chrono::milliseconds after{0};
  };
  using Answer = std::function<std::optional<Reply>(const Bytes& request)>;

  explicit PlayedLine(Answer answer, bool noise = false)
      : answer_(std::move(answer)), noise_(noise) {
    int slave = -1;
    char name[256];
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) return;
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    close(slave);  // held open, it would keep the survey's exclusive open in force
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
  }
  ~PlayedLine() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) close(master_);
  }
  const std::string& path() const { return path_; }
  std::vector<Bytes> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Run() {
    using Clock = std::chrono::steady_clock;
    std::mt19937 rng(11);
    Bytes heard;
    std::vector<std::pair<Clock::time_point, Bytes>> due;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      poll(&p, 1, 1);
      std::uint8_t buf[256];
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) {
        heard.insert(heard.end(), buf, buf + n);
        // A request is the last 8 bytes whose CRC fits.
        while (heard.size() >= 8) {
          const Bytes last(heard.end() - 8, heard.end());
          if (testing::WithCrc(Bytes(last.begin(), last.begin() + 6)) != last) {
            if (heard.size() > 64) heard.erase(heard.begin(), heard.end() - 8);
            break;
          }
          heard.clear();
          {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(last);
          }
          if (auto reply = answer_(last))
            due.emplace_back(Clock::now() + reply->after, reply->bytes);
          break;
        }
      } else if (n < 0 && errno == EIO) {
        // Nobody holds the slave end: what is sent now is lost, as on a line.
        std::this_thread::sleep_for(1ms);
        continue;
      }
      const auto now = Clock::now();
      for (auto it = due.begin(); it != due.end();) {
        if (it->first > now) {
          ++it;
          continue;
        }
        if (write(master_, it->second.data(), it->second.size()) < 0) {
          // The slave end closed meanwhile: lost.
        }
        it = due.erase(it);
      }
      // Noise: about a byte a millisecond, as at 9600 bit/s.
      if (noise_) {
        const auto b = static_cast<std::uint8_t>(rng());
        if (write(master_, &b, 1) < 0) {
          // lost, as above
        }
      }
    }
  }

  Answer answer_;
  bool noise_;
  int master_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};

Bytes ProbeAnswer(std::uint8_t address) {
  return testing::WithCrc({address, 0x03, 0x02, 0x00, 0x10});
}

// A detector's answer to the parameter query, 21 bytes: identity, its address, 9600
// bit/s, normal, tactic 0, latching on, test off.
Bytes QueryAnswer(std::uint8_t address) {
  return testing::WithCrc({address, 0x03, 0x10, 0x00, 0x10, 0x00, address, 0x00, 0x04, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
}

TEST(SurveyPty, HeavyNoiseIsNoDeviceAfterThreeProbesOfEachAddress) {
  testing::TempDir rt;  // the CLI's runtime folder: no registered port needed
  PlayedLine line([](const Bytes&) { return std::nullopt; }, true);
  ASSERT_FALSE(line.path().empty());
  // -v: each noisy window in its own line on stderr (without it, one line counts them).
  const CliRun r = RunCli({"survey", "--port", line.path(), "--addresses", "1-4", "--json", "-v"},
                          rt.path(), 30s);
  EXPECT_EQ(r.exit, 1) << r.err;
  const json doc = json::parse(r.out);
  EXPECT_TRUE(doc["devices"].empty());
  EXPECT_GE(doc["noise"].size(), 12u);
  EXPECT_EQ(doc["probes"], 12);
  EXPECT_NE(r.err.find("no device answered"), std::string::npos);
  EXPECT_NE(r.err.find("bytes that form no answer after the probe to 4 at 9600 bit/s (probe 3"),
            std::string::npos)
      << r.err;
  std::vector<int> probed;
  for (const Bytes& q : line.Requests()) probed.push_back(q[0]);
  EXPECT_EQ(probed, (std::vector<int>{1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}));
}

TEST(SurveyPty, OnlyAnAnswerThatCameLateIsSaidToAndAnAnswerNoProbeAsksForIsPrintedWhole) {
  // 3 answers 10 ms after its probe; 5 answers 70 ms after it, in the window of 6; in
  // the window of 7 comes a parameter query's 21-byte answer from 247.
  const Bytes query_answer = QueryAnswer(247);
  testing::TempDir rt;  // the CLI's runtime folder: no registered port needed
  PlayedLine line([&](const Bytes& request) -> std::optional<PlayedLine::Reply> {
    if (request[1] != 0x03) return std::nullopt;
    if (request[5] == 0x08) {  // the parameter queries after a hit: answered at once
      return PlayedLine::Reply{QueryAnswer(request[0]), 10ms};
    }
    switch (request[0]) {
      case 3:
        return PlayedLine::Reply{ProbeAnswer(3), 10ms};
      case 5:
        return PlayedLine::Reply{ProbeAnswer(5), 70ms};
      case 7:
        return PlayedLine::Reply{query_answer, 10ms};
      default:
        return std::nullopt;
    }
  });
  ASSERT_FALSE(line.path().empty());
  const CliRun r = RunCli({"survey", "--port", line.path(), "--addresses", "1-9"}, rt.path(), 30s);
  EXPECT_EQ(r.exit, 0) << r.err;
  const auto lines = testing::TextLines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0].find("[came after"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].rfind("  3   9600  detector", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("  5   9600  detector", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("[came after its probe's window]"), std::string::npos) << lines[1];
  EXPECT_NE(r.err.find("1 answer(s) came after their probe's window"), std::string::npos) << r.err;
  // Its three probes (made again after it) each got the same answer.
  EXPECT_NE(r.err.find("3 window(s) held bytes that are no device's answer"), std::string::npos)
      << r.err;
  // With -v, the answer itself.
  const CliRun v =
      RunCli({"survey", "--port", line.path(), "--addresses", "1-9", "-v"}, rt.path(), 30s);
  EXPECT_NE(v.err.find("a whole answer that no probe asks for, 21 bytes from address 247, after "
                       "the probe to 7 at 9600 bit/s: " +
                       ToHex(query_answer)),
            std::string::npos)
      << v.err;
}

TEST(SurveyPty, AModbusSlaveThatIsNotOursIsADeviceOfAnotherIdentity) {
  ORNAT_SKIP_IF_MISSING(testing::BusyLineMissing());
  // pymodbus's own RTU server (Debian's python3-pymodbus) as unit 17, its register 0
  // holding 0x1234, on the line the survey sweeps.
  testing::BusyLine line({"--unit", "17:id=0x1234"});
  ASSERT_TRUE(line.Started()) << testing::BusyLine::Why();
  const CliRun r = RunCli({"survey", "--port", line.port_name(), "--addresses", "15-20", "--json"},
                          line.runtime_dir(), 30s);
  EXPECT_EQ(r.exit, 4) << r.err;
  const json doc = json::parse(r.out);
  ASSERT_EQ(doc["devices"].size(), 1u) << r.out;
  const json& d = doc["devices"][0];
  EXPECT_EQ(d["address"], 17);
  EXPECT_EQ(d["probed"], 17);
  EXPECT_EQ(d["kind"], "other-identity");
  EXPECT_EQ(d["identity"], "0x1234");
  EXPECT_EQ(d["answer"], ToHex(testing::WithCrc({0x11, 0x03, 0x02, 0x12, 0x34})));
  EXPECT_TRUE(doc["noise"].empty()) << doc["noise"].dump();
}

}  // namespace
}  // namespace ornat
