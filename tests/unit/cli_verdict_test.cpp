// The command line's verdicts: the exchanges a command made, in; the outcome its JSON
// document names and its exit status, out (they always agree), and what it tells.

#include "cli/verdict.h"

#include <gtest/gtest.h>

namespace ornat::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
using End = ExchangeRecord::End;

const Bytes kQuery = {0x05, 0x03, 0x00, 0x00, 0x00, 0x08, 0x45, 0x88};
const Bytes kQueryAnswer = {0x05, 0x03, 0x10, 0x00, 0x10, 0x00, 0x05, 0x00, 0x04, 0x00, 0x00,
                            0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2F, 0x50};
const Bytes kTestOff = {0x05, 0x06, 0x00, 0x07, 0x00, 0x00, 0x39, 0x8F};
const Bytes kTestOn = {0x05, 0x06, 0x00, 0x07, 0x00, 0x01, 0xF8, 0x4F};
const Bytes kException = {0x05, 0x83, 0x02, 0x81, 0x30};

ExchangeRecord Exchange(Bytes request, Bytes answer, ExchangeOutcome outcome,
                        End end = End::kCompleted) {
  ExchangeRecord record;
  record.request = std::move(request);
  if (!answer.empty()) record.reads.push_back(std::move(answer));
  record.outcome = outcome;
  record.end = end;
  record.port = "ttyUSB0";
  record.bit_rate = 9600;
  return record;
}

Bytes Twice(Bytes bytes) {
  Bytes twice = bytes;
  twice.insert(twice.end(), bytes.begin(), bytes.end());
  return twice;
}

TEST(CliVerdict, AnActionsExchangesGiveOneOutcomeAndTheExitStatusThatGoesWithIt) {
  using O = ExchangeOutcome;
  // How the command judges them: as they are, as a query's, as writes'.
  enum Rule { kAsThey, kAsQuery, kAsWrites };
  struct Case {
    const char* what;
    Rule rule;
    std::vector<ExchangeRecord> exchanges;
    const char* outcome;
    int exit;
    const char* told;  // the last message, in part; "" for none
  } cases[] = {
      // clang-format off
      {"nothing sent", kAsThey, {}, "none", 1, "nothing was sent"},
      {"answered", kAsQuery, {Exchange(kQuery, kQueryAnswer, O::kOk)}, "ok", 0, ""},
      {"time-out", kAsQuery, {Exchange(kQuery, {}, O::kTimeOut)}, "time-out", 1,
       "no answer from address 5 at 9600 bit/s on ttyUSB0 (TIME OUT)"},
      {"refused", kAsQuery, {Exchange(kQuery, kException, O::kException)}, "exception", 4,
       "refused the request with exception code 2"},
      {"the port", kAsThey, {Exchange(kQuery, {}, O::kPortError, End::kSendFailed)}, "port-error",
       3, "the port \"ttyUSB0\" cannot be opened"},
      {"two devices", kAsThey, {Exchange(kQuery, Twice(kQueryAnswer), O::kSeveralDevices)},
       "several-devices", 6, "two or more devices answer at address 5: power them one at a"},
      {"a query answered by a write's echo", kAsQuery, {Exchange(kQuery, kTestOff, O::kOk)},
       "wrong-function", 4, "function code 6 (a write's echo"},
      {"a write acknowledged", kAsWrites, {Exchange(kTestOff, kTestOff, O::kOk)}, "ok", 0, ""},
      {"an echo that differs", kAsWrites, {Exchange(kTestOn, kTestOff, O::kOk)}, "echo-differs",
       4, "may have carried out the write all the same"},
      {"a write not acknowledged", kAsWrites, {Exchange(kTestOn, {}, O::kTimeOut)}, "time-out", 1,
       "only its acknowledgement is missing. Check with: CHECK"},
      {"a write refused", kAsWrites, {Exchange(kTestOn, kException, O::kException)}, "exception",
       4, "refused the request"},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Messages told;
    Verdict verdict = JudgeExchanges(c.exchanges, false, std::chrono::seconds(60), told);
    if (c.rule == kAsQuery) verdict = JudgeQuery(c.exchanges, verdict, told);
    if (c.rule == kAsWrites) verdict = JudgeWrites(c.exchanges, verdict, "CHECK", told);
    EXPECT_EQ(verdict.outcome, c.outcome);
    EXPECT_EQ(verdict.exit, c.exit);
    if (std::string(c.told).empty()) {
      EXPECT_TRUE(told.empty()) << told.front();
    } else {
      ASSERT_FALSE(told.empty());
      EXPECT_NE(told.back().find(c.told), std::string::npos) << told.back();
    }
    // watch judges each of its queries as query would.
    if (c.rule == kAsQuery) {
      EXPECT_EQ(QueryVerdict(c.exchanges.back()).outcome, c.outcome);
    }
  }
  Messages told;
  const Verdict unended =
      JudgeExchanges({Exchange(kQuery, {}, O::kNone)}, true, std::chrono::seconds(60), told);
  EXPECT_EQ(unended.exit, kExitNoAnswer);
  EXPECT_EQ(told, Messages{"the exchange did not end within 60 s"});
}

TEST(CliVerdict, WatchEndsWithTheStatusOfItsLastQueryAndCountsEachKind) {
  WatchTally tally;
  for (const ExchangeRecord& record :
       {Exchange(kQuery, kQueryAnswer, ExchangeOutcome::kOk),
        Exchange({}, {0x00, 0xFF}, ExchangeOutcome::kNone, End::kIdle),  // not a query
        Exchange(kQuery, kTestOff, ExchangeOutcome::kOk),
        Exchange(kQuery, {}, ExchangeOutcome::kTimeOut)})
    if (WatchTally::Counts(record)) {
      tally.Count(QueryVerdict(record));
    }
  EXPECT_EQ(tally.queries, 3);
  EXPECT_EQ(tally.answered, 1);
  EXPECT_EQ(tally.wrong, 1);
  EXPECT_EQ(tally.time_outs, 1);
  EXPECT_EQ(tally.Exit(false), kExitNoAnswer);
  EXPECT_EQ(tally.Exit(true), kExitPort);
  tally.Count(Verdict::Of(ExchangeOutcome::kOk));
  EXPECT_EQ(tally.Exit(false), kExitDone);
}

TEST(CliVerdict, ASweepRanksThePortOverSeveralDevicesOverWhatItFound) {
  struct Case {
    int found;
    bool several;
    bool port_failed;
    int exit;
  } cases[] = {
      {0, false, false, 0}, {1, false, false, 1}, {4, false, false, 4}, {0, true, false, 6},
      {1, true, false, 6},  {4, true, false, 6},  {4, true, true, 3},   {0, false, true, 3},
  };
  for (const Case& c : cases) EXPECT_EQ(SweepExit(c.found, c.several, c.port_failed), c.exit);
  EXPECT_EQ(SurveyFound(true, true, false), kExitDone);
  EXPECT_EQ(SurveyFound(true, false, false), kExitRefused);
  EXPECT_EQ(SurveyFound(true, true, true), kExitNoAnswer) << "stopped";
  EXPECT_EQ(SurveyFound(false, true, false), kExitNoAnswer);
}

TEST(CliVerdict, ASearchThatFoundNothingButGarbledBytesSaysAfterWhichProbes) {
  const Bytes probe4 = {0x04, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x5F};
  const Bytes probe5 = {0x05, 0x03, 0x00, 0x00, 0x00, 0x01, 0x85, 0x8E};
  const Bytes answer5 = {0x05, 0x03, 0x02, 0x00, 0x10, 0x48, 0x48};
  std::vector<ExchangeRecord> exchanges = {
      Exchange(probe4, {0x04, 0x13, 0x77}, ExchangeOutcome::kCrcError),
      Exchange({}, {0x55}, ExchangeOutcome::kNone, End::kIdle),  // still after the probe to 4
      Exchange(probe5, {}, ExchangeOutcome::kNone),
  };
  for (auto& record : exchanges) record.searching = true;
  SearchFindings findings = FindInSearch(exchanges);
  EXPECT_EQ(findings.garbled, (std::vector<int>{4}));
  EXPECT_EQ(findings.probes, 2);
  EXPECT_FALSE(findings.several);
  EXPECT_EQ(SearchExit(false, findings), kExitRefused);
  EXPECT_EQ(SearchExit(true, findings), kExitDone);

  // Two answers from 5 in one window.
  exchanges.back().reads = {Twice(answer5)};
  findings = FindInSearch(exchanges);
  EXPECT_EQ(findings.several, std::optional<std::uint8_t>(5));
  EXPECT_EQ(SearchExit(true, findings), kExitSeveralDevices);
}

}  // namespace
}  // namespace ornat::cli
