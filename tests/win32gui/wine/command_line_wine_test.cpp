// ornat.exe's own command line under Wine: what it answers before any window opens, into
// a pipe (the bytes, as a console program writes them) and on Wine's console (shown
// whole, Cyrillic included). Wine gives a program of the window subsystem its parent's
// console from the start; joining the console of cmd, which a real Windows does not
// give it, is seen on Windows only.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wine_window.h"

namespace ornat::testing {
namespace {

TEST(WindowCommandLine, HelpVersionAndAWrongArgumentAnswerIntoAPipeAndOnTheConsoleWhole) {
  ASSERT_EQ(WineWindowSetupMissing(), "");
  struct Case {
    std::vector<std::string> args;
    int exit;
    bool on_stderr;
    std::string text;  // the first line
  } cases[] = {
      {{"--version"}, 0, false, std::string("ornat ") + ORNAT_VERSION},
      {{"--help"}, 0, false, "Usage: ornat [--journal FILE] [--port NAME]"},
      {{"Журнал"}, 2, true, "ornat: unknown argument \"Журнал\" (ornat --help lists the options)"},
  };
  const std::string exe = WindowsProgram("src/win32/ornat.exe");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const WineRun piped = RunUnderWine(exe, c.args);
    EXPECT_EQ(piped.exit, c.exit);
    const std::string& said = c.on_stderr ? piped.err : piped.out;
    EXPECT_EQ(said.substr(0, said.find('\n') + 1), c.text + "\n") << "LF alone, as on Linux";
    EXPECT_EQ(c.on_stderr ? piped.out : piped.err, "");
    const TerminalRun shown = RunUnderWineOnTerminal(exe, c.args, 100, std::chrono::seconds(60));
    EXPECT_EQ(shown.exit, c.exit);
    const std::vector<std::string> rows = TerminalScreen(shown.shown, 100).Rows();
    ASSERT_FALSE(rows.empty()) << shown.shown;
    EXPECT_EQ(rows[0], c.text) << shown.shown;
  }
}

}  // namespace
}  // namespace ornat::testing
