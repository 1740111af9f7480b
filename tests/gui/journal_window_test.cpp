// The window with a journal (ornat --journal FILE): the program as main() composes it,
// in front of ornat-sim, keeps one JSON line per exchange and its log pane shows what
// it shows without one.

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <nlohmann/json.hpp>

#include "e2e_window.h"
#include "journal/exchange_journal.h"
#include "support/basic_form.h"
#include "support/text_lines.h"

namespace ornat {
namespace {

using testing::FileLines;

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

std::vector<QMessageBox*> JournalWarnings(Program& program) {
  std::vector<QMessageBox*> boxes;
  for (auto* box : program.view().findChildren<QMessageBox*>("JournalWarning"))
    if (box->isVisible()) boxes.push_back(box);
  return boxes;
}

TEST(WindowJournal, AJournalThatCannotBeWrittenIsToldOnceAndTheWindowGoesOn) {
  testing::SimProcess sim({"--detector", "247:alarm"});
  ASSERT_TRUE(sim.Started());
  testing::ScopedEnv xdg("XDG_RUNTIME_DIR", sim.runtime_dir());
  // Every write to /dev/full fails as on a full disk.
  ExchangeJournal journal("/dev/full", "ornat");
  PosixCommDevice device;
  LinuxPortList ports("/sys/class/tty", sim.runtime_dir() + "/ornat/ports");
  Program program(device, &ports, &journal);
  program.WatchJournal(journal);
  program.Start();
  auto* query = program.view().findChild<QPushButton*>("TeButton5");
  ASSERT_NE(query, nullptr);
  QTest::mouseClick(query, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !JournalWarnings(program).empty(); }, 5000));
  const auto boxes = JournalWarnings(program);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(boxes[0]->isModal());
  EXPECT_EQ(boxes[0]->text().toStdString(),
            "Exchanges are missing from the journal: cannot write to the journal \"/dev/full\": "
            "No space left on device.\nThe window goes on; each later exchange is written if "
            "the file takes it.");
  // The exchange itself ended as without a journal, and the next one runs with the box
  // still open and opens no second box.
  EXPECT_EQ(program.form().TeMemo1.Lines().back(), testing::kOkLine);
  EXPECT_EQ(program.form().StatusGrid.Cell(1, 1), "    ТРЕВОГА");
  QTest::mouseClick(query, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return sim.WireAnswers().size() == 2; }, 5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return journal.LinesLost() == 2; }, 5000));
  QTest::qWait(50);
  EXPECT_EQ(JournalWarnings(program).size(), 1u);
  EXPECT_EQ(program.form().TeMemo1.Lines().back(), testing::kOkLine);
}

TEST(WindowJournal, AJournalThatCannotBeOpenedIsToldInTheWindow) {
  PosixCommDevice device;
  Program program(device);
  program.Start();
  program.JournalCannotBeOpened(
      "cannot open the journal \"/x/j.jsonl\": No such file or directory");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !JournalWarnings(program).empty(); }, 5000));
  EXPECT_EQ(JournalWarnings(program)[0]->text().toStdString(),
            "The journal cannot be kept: cannot open the journal \"/x/j.jsonl\": No such file "
            "or directory.\nThe window runs without a journal.");
}

}  // namespace
}  // namespace ornat
