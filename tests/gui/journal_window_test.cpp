// The window with a journal (ornat --journal FILE): the program as main() composes it,
// in front of ornat-sim, keeps one JSON line per exchange and its log pane shows what
// it shows without one.

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <fstream>
#include <nlohmann/json.hpp>

#include "e2e_window.h"
#include "journal/exchange_journal.h"
#include "support/basic_form.h"

namespace ornat {
namespace {

std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(WindowJournal, EachExchangeOfTheWindowIsOneLineAndTheLogPaneIsUnchanged) {
  testing::SimProcess sim({"--detector", "247:alarm"});
  ASSERT_TRUE(sim.Started());
  // The port "ornat-sim" is the simulator's registered link.
  testing::ScopedEnv xdg("XDG_RUNTIME_DIR", sim.runtime_dir());
  testing::TempDir dir;
  const std::string path = dir.path() + "/window.jsonl";
  ExchangeJournal journal(path, "ornat");
  PosixCommDevice device;
  LinuxPortList ports("/sys/class/tty", sim.runtime_dir() + "/ornat/ports");
  Program program(device, &ports, &journal);
  program.Start();
  auto* query = program.view().findChild<QPushButton*>("TeButton5");
  ASSERT_NE(query, nullptr);
  for (int i = 1; i <= 2; ++i) {
    QTest::mouseClick(query, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FileLines(path).size() == std::size_t(i); }, 5000));
  }
  const auto lines = FileLines(path);
  const auto requests = sim.WireRequests();
  const auto answers = sim.WireAnswers();
  ASSERT_EQ(requests.size(), 2u);
  ASSERT_EQ(answers.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const auto line = nlohmann::json::parse(lines[i]);
    EXPECT_EQ(line["program"], "ornat");
    EXPECT_EQ(line["port"], "ornat-sim");
    EXPECT_EQ(line["operation"], "query");
    EXPECT_EQ(line["request"], requests[i].hex);
    EXPECT_EQ(line["answer"], answers[i].hex);
  }
  // The log pane shows the last exchange, as it does without a journal.
  EXPECT_EQ(nlohmann::json::parse(lines[1])["log"].get<std::vector<std::string>>(),
            program.form().TeMemo1.Lines());
  EXPECT_EQ(program.form().TeMemo1.Lines().back(), testing::kOkLine);
  EXPECT_EQ(program.form().StatusGrid.Cell(1, 1), "    ТРЕВОГА");
}

}  // namespace
}  // namespace ornat
