// ornat-cli.exe under Wine against ornat-sim (the Linux build) on a pty mapped as
// COM7: the registry's ports, and sessions whose wire log, exit status and output
// equal the Linux ornat-cli's for the same commands.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "support/cli_process.h"
#include "support/sim_process.h"
#include "support/test_environment.h"
#include "support/text_lines.h"
#include "wine/wine_process.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using testing::FileText;
using testing::FramesHex;
using testing::SimProcess;
using testing::TextLines;

std::string CliExe() {
  return testing::WindowsProgram("src/cli/ornat-cli.exe");
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
    text.replace(at, what.size(), with);
  return text;
}

class WineCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ORNAT_SKIP_IF_MISSING(testing::WineSetupMissing({"src/cli/ornat-cli.exe"}));
  }
};

TEST_F(WineCli, PortsListsTheComPortsMappedInThePrefixFromTheRegistry) {
  const testing::WineRun r = testing::RunUnderWine(CliExe(), {"ports"});
  EXPECT_EQ(r.exit, 0) << r.err;
  const Strings ports = TextLines(r.out);
  for (const char* mapped : {"COM1", "COM7", "COM12"})
    EXPECT_NE(std::find(ports.begin(), ports.end(), mapped), ports.end()) << mapped << "\n"
                                                                          << r.out;
  const testing::WineRun j = testing::RunUnderWine(CliExe(), {"ports", "--json"});
  EXPECT_EQ(j.exit, 0);
  EXPECT_NE(j.out.find("\"COM12\""), std::string::npos) << j.out;
  // COM1 is in the list, so it is the one preselected, as in the window.
  EXPECT_NE(j.out.find("\"selected\":\"COM1\""), std::string::npos) << j.out;
}

TEST_F(WineCli, ASessionPutsTheSameFramesOnTheWireAsTheLinuxCli) {
  struct Case {
    const char* name;
    Strings sim;
    Strings args;
    int exit;
  } cases[] = {
      {"query", {}, {"query"}, 0},
      {"query, JSON", {}, {"query", "--json"}, 0},
      {"set tactic", {}, {"set", "tactic", "3"}, 0},
      {"set tactic by name, 19200 bit/s, address 9",
       {"--detector", "9:speed=6"},
       {"--baud", "19200", "--address", "9", "set", "tactic", "T2MIN"},
       0},
      {"search", {"--detector", "5"}, {"search"}, 0},
      {"survey", {"--detector", "2", "--detector", "4"}, {"survey", "--addresses", "1-6"}, 0},
      {"survey at the line's pace at two speeds, JSON",
       {"--detector", "2", "--detector", "4:speed=6"},
       {"survey", "--addresses", "1-6", "--speeds", "9600,19200", "--json"},
       0},
      {"service F0", {}, {"service", "F0"}, 0},
      {"service F3, JSON", {"--detector", "5"}, {"--address", "5", "service", "F3", "--json"}, 0},
      // The new address is looked at first: silence there, then the write.
      {"set address onto a free address", {}, {"set", "address", "5"}, 0},
      {"set address onto a taken address",
       {"--detector", "247", "--detector", "5"},
       {"set", "address", "5"},
       4},
      {"set address --force",
       {"--detector", "247", "--detector", "5"},
       {"set", "address", "5", "--force"},
       0},
      {"set test on", {}, {"set", "test", "on"}, 0},
      {"reset-alarm", {"--detector", "247:alarm"}, {"reset-alarm"}, 0},
      {"no answer", {"--detector", "9"}, {"--address", "8", "query"}, 1},
  };
  for (const Case& c : cases) {
    SimProcess windows_line(c.sim);
    ASSERT_TRUE(windows_line.Started()) << c.name;
    ASSERT_TRUE(testing::PointComPort("COM7", windows_line.pty_path())) << c.name;
    Strings args = {"--port", "COM7"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const testing::WineRun w = testing::RunUnderWine(CliExe(), args);

    SimProcess linux_line(c.sim);
    ASSERT_TRUE(linux_line.Started()) << c.name;
    Strings largs = {"--port", linux_line.pty_path()};
    largs.insert(largs.end(), c.args.begin(), c.args.end());
    const testing::CliRun l = testing::RunCli(largs, linux_line.runtime_dir());

    EXPECT_EQ(w.exit, c.exit) << c.name << "\n" << w.err;
    EXPECT_EQ(l.exit, c.exit) << c.name << "\n" << l.err;
    const Strings requests = FramesHex(windows_line.WireRequests());
    EXPECT_FALSE(requests.empty()) << c.name;
    EXPECT_EQ(requests, FramesHex(linux_line.WireRequests())) << c.name;
    EXPECT_EQ(FramesHex(windows_line.WireAnswers()), FramesHex(linux_line.WireAnswers())) << c.name;
    // The same text, byte for byte, but for the port's name; the lines that tell how
    // long a search or a survey took are left out, and so is a JSON document's time.
    auto same = [&](const std::string& text, const std::string& port) {
      Strings kept;
      const std::string timeless =
          std::regex_replace(text, std::regex("\"duration_s\":[0-9.]+"), "\"duration_s\":T");
      for (const std::string& line : TextLines(Replace(timeless, port, "PORT")))
        if (line.rfind("search took", 0) != 0 && line.rfind("survey ", 0) != 0)
          kept.push_back(line);
      return kept;
    };
    EXPECT_EQ(same(w.out, "COM7"), same(l.out, linux_line.pty_path())) << c.name;
    EXPECT_EQ(same(w.err, "COM7"), same(l.err, linux_line.pty_path())) << c.name;
  }
}

TEST_F(WineCli, APortThatFailsIsToldInTheCommandLinesWordsWithItsControlCharactersWrittenOut) {
  // COM12 leads to a regular file: the open succeeds, the port's settings fail.
  const std::string file = testing::WineSetting("ORNAT_WINE_PORTS") + "/a-file";
  { std::ofstream(file) << "not a port\n"; }
  ASSERT_TRUE(testing::PointComPort("COM12", file));
  const std::string no_such =
      "cannot be opened: no such device; \"ornat-cli ports\" lists the ports";
  const std::string not_serial =
      "cannot be opened: not a serial device; \"ornat-cli ports\" lists the ports";
  struct Case {
    std::string port;
    Strings command;
    std::string says;
  } cases[] = {
      {"COM9", {"query"}, "the port \"COM9\" " + no_such},
      {"NUL", {"query"}, "the port \"NUL\" " + not_serial},
      {"COM12", {"set", "tactic", "3"}, "the port \"COM12\" " + not_serial},
      {"COM9", {"watch"}, "the port \"COM9\" " + no_such + "; the cyclic query stopped"},
      {"COM9",
       {"survey", "--addresses", "1-3"},
       "the port \"COM9\" " + no_such + "; the survey stopped"},
      {"COM\x1b[2J\a9", {"query"}, "the port \"COM\\u001B[2J\\u00079\" cannot be opened: "},
      // Cyrillic "КОМ7" arrives whole and is opened by its wide name.
      {"КОМ7", {"query"}, "the port \"КОМ7\" " + no_such},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    Strings args = {"--port", c.port};
    args.insert(args.end(), c.command.begin(), c.command.end());
    const testing::WineRun r = testing::RunUnderWine(CliExe(), args);
    EXPECT_EQ(r.exit, 3) << r.err;
    EXPECT_NE(r.err.find("ornat-cli: " + c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("win error"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find_first_of("\x1b\a"), std::string::npos) << r.err;
  }
}

TEST_F(WineCli, AJournalThatNamesADeviceOrAPipeIsRefusedBeforeAnythingIsOpened) {
  // The simulator on COM7: a journal named after it must not put a byte on its line.
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  ASSERT_TRUE(testing::PointComPort("COM7", sim.pty_path()));
  struct Case {
    const char* journal;
    const char* says;
  } cases[] = {
      {"COM7", "it names the serial port COM7"},
      {"logs\\com7.jsonl", "it names the serial port COM7"},
      {"NUL", "it names the device NUL"},
      {"CON", "it names the device CON"},
      {"\\\\.\\pipe\\ornat-journal", "it is a named pipe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.journal);
    const testing::WineRun r =
        testing::RunUnderWine(CliExe(), {"--port", "COM7", "--journal", c.journal, "query"});
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.err.find(std::string("cannot open the journal \"") + c.journal + "\": " + c.says),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(sim.WireRequests().empty()) << "nothing was sent, nothing went onto the line";
}

TEST_F(WineCli, OutputIntoAPipeWhoseReaderHasGoneEndsWithExit5AndSaysSo) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  ASSERT_TRUE(testing::PointComPort("COM7", sim.pty_path()));
  struct Case {
    Strings args;
    int exit;
  } cases[] = {
      {{"--port", "COM7", "query"}, 5},
      {{"--port", "COM7", "query", "--json"}, 5},
      {{"--help"}, 5},
      // A command that failed keeps its own status.
      {{"--port", "COM7", "--address", "9", "query", "--json"}, 1},
      // watch stops at its first line that cannot be written, as Ctrl-C stops it.
      {{"--port", "COM7", "watch"}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const testing::WineRun r = testing::RunUnderWine(CliExe(), c.args, 60s, true);
    EXPECT_EQ(r.exit, c.exit) << r.err;
    EXPECT_NE(r.err.find("cannot write to standard output: Broken pipe"), std::string::npos)
        << r.err;
  }
  // The queries went out and were answered all the same (watch's one or two).
  EXPECT_GE(sim.WireRequests().size(), 4u);
  EXPECT_LE(sim.WireRequests().size(), 5u);
}

TEST_F(WineCli, OnAConsoleTheProgressLineGivesWayToTheResultsAndNothingOfItStays) {
  SimProcess sim({"--detector", "3", "--detector", "5"});
  ASSERT_TRUE(sim.Started());
  ASSERT_TRUE(testing::PointComPort("COM7", sim.pty_path()));
  const std::string device3 =
      "  3   9600  detector  НОРМА  tactic 0 T1MAX (- УФ-1 - MAX)  latching on  test off";
  const std::string device5 =
      "  5   9600  detector  НОРМА  tactic 0 T1MAX (- УФ-1 - MAX)  latching on  test off";
  struct Case {
    Strings args;
    unsigned short columns;
    const char* progress;  // how the progress line starts
    Strings lines;         // what the screen shows at the end; "*" stands for the rest
  } cases[] = {
      {{"survey", "--addresses", "1-6"},
       100,
       "survey: 9600 bit/s (1/1), ",
       {device3, device5, "survey done: 2 device(s), 6 probes in *"}},
      // Narrower than the progress line: it is cut, never wrapped onto a second row
      // (the results are, by the console).
      {{"survey", "--addresses", "1-6"},
       60,
       "survey: 9600 bit/s (1/1), ",
       {device3, device5, "survey done: 2 device(s), 6 probes in *"}},
      {{"search", "--delay", "100"},
       100,
       "search: ",
       {"found a detector at address 3 (9600 bit/s)", "search took *"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.columns) + " columns: " + c.args.front());
    Strings args = {"--port", "COM7"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const testing::TerminalRun r = testing::RunUnderWineOnTerminal(CliExe(), args, c.columns, 90s);
    EXPECT_EQ(r.exit, 0) << r.shown;
    const testing::TerminalScreen screen(r.shown, c.columns);
    EXPECT_TRUE(screen.unknown().empty()) << screen.unknown().front();
    // It was shown while the work went on, and what is left is the results alone, in
    // Cyrillic, with no trace of an escape sequence printed as text.
    EXPECT_NE(r.shown.find(c.progress), std::string::npos) << r.shown;
    // The console wraps a line longer than its width onto the next rows.
    Strings want_rows;
    for (const std::string& line : c.lines) {
      std::string row;
      std::size_t cells = 0;
      for (std::size_t i = 0; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 && cells++ == c.columns &&
            line.back() != '*') {
          want_rows.push_back(row);
          row.clear();
          cells = 1;
        }
        row += line[i];
      }
      want_rows.push_back(row);
    }
    const Strings rows = screen.Rows();
    ASSERT_EQ(rows.size(), want_rows.size()) << r.shown;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      std::string want = want_rows[i];
      while (!want.empty() && want.back() == ' ') want.pop_back();  // as the screen's rows
      if (!want.empty() && want.back() == '*')
        EXPECT_EQ(rows[i].rfind(want.substr(0, want.size() - 1), 0), 0u) << rows[i];
      else
        EXPECT_EQ(rows[i], want);
      EXPECT_EQ(rows[i].find("[K"), std::string::npos) << rows[i];
      EXPECT_EQ(rows[i].find(c.progress), std::string::npos) << rows[i];
    }
  }
}

TEST_F(WineCli, TheJournalGetsOneWholeLinePerExchangeWhateverLettersItsPathHolds) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  ASSERT_TRUE(testing::PointComPort("COM7", sim.pty_path()));
  // Cyrillic and accented letters, which no one ANSI code page holds both of.
  for (const std::string name : {"journal.jsonl", "Журнал/j.jsonl", "Résumé.jsonl"}) {
    SCOPED_TRACE(name);
    const std::string journal = sim.runtime_dir() + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(journal).parent_path());
    for (int i = 0; i < 2; ++i) {
      const testing::WineRun r = testing::RunUnderWine(
          CliExe(), {"--port", "COM7", "--journal", "Z:" + Replace(journal, "/", "\\"), "query"});
      ASSERT_EQ(r.exit, 0) << r.err;
    }
    const std::string text = FileText(journal);
    const Strings lines = TextLines(text);
    ASSERT_EQ(lines.size(), 2u) << text;
    for (const std::string& line : lines) {
      EXPECT_EQ(line.rfind("{\"time\":\"", 0), 0u) << line;
      EXPECT_NE(line.find("\"program\":\"ornat-cli\",\"port\":\"COM7\""), std::string::npos)
          << line;
      EXPECT_NE(line.find("\"request\":\"F7 03 00 00 00 08 50 9A\""), std::string::npos) << line;
      EXPECT_EQ(line.back(), '}') << "no CR before the line end";
    }
  }
}

TEST_F(WineCli, OfTwoStartedAtOnceOnOneComPortOneRunsAndTheOtherNamesIt) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  ASSERT_TRUE(testing::PointComPort("COM7", sim.pty_path()));
  testing::WineProcess a(CliExe(), {"--port", "COM7", "watch", "--count", "4"}),
      b(CliExe(), {"--port", "com7", "watch", "--count", "4"});
  a.CloseInput();
  b.CloseInput();
  const int exits[] = {a.Wait(90s), b.Wait(90s)};
  EXPECT_EQ(exits[0] + exits[1], 3) << a.err() << b.err();
  EXPECT_TRUE(exits[0] == 0 || exits[1] == 0);
  const bool a_lost = exits[0] == 3;
  const std::string lost = a_lost ? "COM7" : "com7", won = a_lost ? "com7" : "COM7";
  EXPECT_NE((a_lost ? a : b)
                .err()
                .find("ornat-cli: the line \"" + lost +
                      "\" is in use by ornat-cli.exe watch --port " + won),
            std::string::npos);
}

TEST_F(WineCli, TheZipsProgramTranslatesWithTheCatalogueBesideIt) {
  // The portable zip as an engineer unpacks it: the serial port's texts come from
  // locale\ru\LC_MESSAGES\serialcomm.mo beside the program, read without gettext.
  std::string zip;
  for (const auto& e :
       std::filesystem::directory_iterator(testing::WineSetting("ORNAT_WIN32_BUILD")))
    if (e.path().extension() == ".zip") zip = e.path().string();
  ASSERT_FALSE(zip.empty()) << "no zip in the Windows build";
  SimProcess sim;  // for a folder of its own
  ASSERT_TRUE(sim.Started());
  const std::string dir = sim.runtime_dir() + "/unpacked";
  std::filesystem::create_directories(dir);
  const std::string unpack = "cd '" + dir + "' && cmake -E tar xf '" + zip + "'";
  ASSERT_EQ(std::system(unpack.c_str()), 0);
  std::string exe;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.path().filename() == "ornat-cli.exe") exe = e.path().string();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(exe).parent_path() /
                                      "locale/ru/LC_MESSAGES/serialcomm.mo"));
  struct Case {
    const char* language;
    const char* text;
  } cases[] = {
      {"ru", "Не удалось открыть COM-порт (код ошибки Windows: 2)"},
      {"de", "Unable to open com port (win error code: 2)"},
  };
  // A locale that is not "C", whatever the test's own (LANGUAGE counts only then).
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", "C.UTF-8", 1);
  for (const Case& c : cases) {
    setenv("LANGUAGE", c.language, 1);
    const testing::WineRun r = testing::RunUnderWine(exe, {"--port", "COM9", "query", "--json"});
    unsetenv("LANGUAGE");
    EXPECT_EQ(r.exit, 3) << c.language;
    // The component's own text in the document; the command line's words on stderr.
    EXPECT_NE(r.out.find(c.text), std::string::npos) << c.language << "\n" << r.out;
    EXPECT_NE(r.err.find("cannot be opened: no such device"), std::string::npos) << r.err;
  }
}

TEST_F(WineCli, CtrlCStopsWatchSearchAndSurveyAfterTheExchangeInFlight) {
  struct Case {
    const char* name;
    Strings sim;
    Strings args;
    std::size_t lines_first;  // stdout lines to wait for before Ctrl-C (0: a while)
    int exit;
    const char* summary;  // on stderr; "" for none
  } cases[] = {
      {"watch", {}, {"watch"}, 2, 0, "watch stopped by Ctrl-C: "},
      // Found at 2 and printed as found; the summary tells the stop, not "no device".
      {"survey", {"--detector", "2"}, {"survey"}, 1, 1, "survey stopped by Ctrl-C at address "},
      {"search", {"--detector", "200"}, {"search"}, 0, 1, "search stopped at address "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimProcess sim(c.sim);
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(testing::PointComPort("COM7", sim.pty_path()));
    Strings args = {"--port", "COM7"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    testing::WineProcess p(CliExe(), args);
    if (c.lines_first > 0)
      ASSERT_TRUE(p.WaitForLines(c.lines_first, 30s)) << p.err();
    else
      p.WaitForLines(1, 2s);  // the search finds nothing before address 200
    p.Signal(SIGINT);         // Wine hands it to the console's Ctrl-C handlers
    EXPECT_EQ(p.Wait(20s), c.exit) << p.err();
    const Strings lines = TextLines(p.out());
    if (std::string(c.name) == "watch") {
      ASSERT_GE(lines.size(), 2u);
      for (const std::string& line : lines)
        EXPECT_NE(line.find("НОРМА  tactic 0 T1MAX"), std::string::npos) << line;
    } else if (std::string(c.name) == "survey") {
      ASSERT_EQ(lines.size(), 1u) << p.out();
      EXPECT_EQ(lines[0].rfind("  2   9600  detector  НОРМА", 0), 0u) << lines[0];
    } else {
      EXPECT_EQ(p.out(), "");
      EXPECT_NE(p.err().find(": nothing found"), std::string::npos) << p.err();
    }
    if (*c.summary != '\0') {
      EXPECT_NE(p.err().find(c.summary), std::string::npos) << p.err();
    }
    EXPECT_EQ(p.err().find("no device answered"), std::string::npos) << p.err();
    // watch: every request that went out was answered, the one in flight first.
    if (std::string(c.name) == "watch") {
      EXPECT_EQ(sim.WireRequests().size(), sim.WireAnswers().size());
    }
  }
}

}  // namespace
}  // namespace ornat
