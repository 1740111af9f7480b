#include "ui/window_command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "journal/exchange_journal.h"
#include "support/basic_form.h"

namespace ornat {
namespace {

using Action = WindowCommandLine::Action;

struct LineCase {
  std::vector<std::string> args;
  Action action;
  std::optional<std::string> journal;
  std::string error;
};

TEST(WindowCommandLine, EachArgumentIsReadOrRefusedWithItsReason) {
  const LineCase cases[] = {
      {{}, Action::kRun, std::nullopt, ""},
      {{"--journal", "a.jsonl"}, Action::kRun, "a.jsonl", ""},
      {{"--journal=b c.jsonl"}, Action::kRun, "b c.jsonl", ""},
      // The last one named is the one kept.
      {{"--journal", "a", "--journal=b"}, Action::kRun, "b", ""},
      {{"--help"}, Action::kHelp, std::nullopt, ""},
      {{"-h"}, Action::kHelp, std::nullopt, ""},
      {{"/?"}, Action::kHelp, std::nullopt, ""},
      {{"--version", "--bogus"}, Action::kVersion, std::nullopt, ""},
      {{"--journal"},
       Action::kUsageError,
       std::nullopt,
       "ornat: a file name must follow \"--journal\" (ornat --help lists the options)\n"},
      {{"--journal", "x", "-v"},
       Action::kUsageError,
       "x",
       "ornat: unknown argument \"-v\" (ornat --help lists the options)\n"},
      {{"--port=tcp://h:0", "--journal", "j"},
       Action::kUsageError,
       std::nullopt,
       "ornat: --port \"tcp://h:0\": the port is 0; it must be 1 to 65535\n"},
      // A name given bare is not taken for a journal.
      {{"a.jsonl"},
       Action::kUsageError,
       std::nullopt,
       "ornat: unknown argument \"a.jsonl\" (ornat --help lists the options)\n"},
  };
  for (const LineCase& c : cases) {
    const WindowCommandLine line = ParseWindowCommandLine(c.args);
    const std::string which = ::testing::PrintToString(c.args);
    EXPECT_EQ(line.action, c.action) << which;
    EXPECT_EQ(line.journal_path, c.journal) << which;
    EXPECT_EQ(line.error, c.error) << which;
  }
  EXPECT_EQ(ParseWindowCommandLine({"--port", "Котельная"}).port, "Котельная");
}

TEST(WindowCommandLine, TheUsageNamesEveryOptionAndTheToolkitsOwn) {
  const std::string usage = WindowUsage("Usage: ornat [--journal FILE]", "Qt's own.\n", "See.");
  EXPECT_EQ(usage.rfind("Usage: ornat [--journal FILE]\n\n", 0), 0u);
  for (const char* part : {"  --journal FILE ", "  --help ", "  --version ", "Qt's own.\nSee.\n"})
    EXPECT_NE(usage.find(part), std::string::npos) << part;
}

TEST(WindowCommandLine, AJournalThatCannotBeOpenedIsToldAndNoneIsKept) {
  const testing::TempDir temp;
  const std::filesystem::path dir = temp.path();
  std::string error;
  EXPECT_EQ(OpenWindowJournal(ParseWindowCommandLine({}), error), nullptr);
  EXPECT_EQ(error, "");
  // A folder is not a journal.
  EXPECT_EQ(OpenWindowJournal(ParseWindowCommandLine({"--journal", dir.string()}), error), nullptr);
  EXPECT_NE(error, "");
  error.clear();
  const auto file = (dir / "j.jsonl").string();
  EXPECT_NE(OpenWindowJournal(ParseWindowCommandLine({"--journal", file}), error), nullptr);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace ornat
