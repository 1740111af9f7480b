#pragma once
// Every rule that turns a command's exchanges into its outcome and exit status, in one
// place. A rule gives a Verdict (the outcome a JSON document names and the exit status,
// decided together so that the two always agree) and appends to `told` what the
// engineer is to read on stderr about it, in order (the sentences are messages.h's).
// The outcome is the log's name for what happened ("time-out", "exception"...) or,
// where the command judged an exchange that the window took as good, the command's own
// name for what it found wrong ("echo-differs", "address-taken"...).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/exit_status.h"
#include "modbus/exchange_observer.h"
#include "modbus/exchange_outcome.h"

namespace ornat::cli {

using Messages = std::vector<std::string>;

// The exit status of an exchange that came to `outcome`: 0 ok; 1 no answer; 3 the
// port; 6 several devices; 4 anything else the detector did.
int ExitFor(ExchangeOutcome outcome);

struct Verdict {
  int exit = kExitDone;
  std::string outcome = OutcomeName(ExchangeOutcome::kOk);

  static Verdict Of(ExchangeOutcome outcome) { return {ExitFor(outcome), OutcomeName(outcome)}; }
  static Verdict Refused(std::string outcome) { return {kExitRefused, std::move(outcome)}; }
  static Verdict NoAnswer() { return Of(ExchangeOutcome::kNone); }
  bool Done() const { return exit == kExitDone; }
};

// The command's own outcomes, beside the log's.
inline constexpr const char* kEchoDiffers = "echo-differs";
inline constexpr const char* kAddressTaken = "address-taken";
// A write acknowledged with another value than the one written (address, speed).
inline constexpr const char* kOtherValueAcknowledged = "other-value-acknowledged";
// A query answered by anything but a register read.
inline constexpr const char* kNotAQueryAnswer = "wrong-function";
// A command that was done, but whose journal misses exchanges.
inline constexpr const char* kJournalIncomplete = "journal-incomplete";

// The answer the completion judged, as the validator leaves it; empty when not valid.
std::vector<std::uint8_t> ValidAnswer(const ExchangeRecord& record);

// One user action's exchanges (HeadlessWindow::Perform): none means nothing was sent;
// `still_working` that they did not end within `limit`; else the last one's outcome
// decides.
Verdict JudgeExchanges(const std::vector<ExchangeRecord>& exchanges, bool still_working,
                       std::chrono::seconds limit, Messages& told);

// The writes among `exchanges`, judged as the detector's acknowledgement of them: each
// echo must be the request. When an acknowledgement failed or did not come as sent, the
// detector may have carried the write out all the same: told, with `check` (the
// queries that show it). Returns `verdict`, or echo-differs.
Verdict JudgeWrites(const std::vector<ExchangeRecord>& exchanges, Verdict verdict,
                    const std::string& check, Messages& told);

// The verdict query gives one exchange: its outcome, or wrong-function for an answer
// the window took that is no register read (a write's echo that came late).
Verdict QueryVerdict(const ExchangeRecord& record);
// A query's exchanges judged: a done query whose answer is no register read is refused.
Verdict JudgeQuery(const std::vector<ExchangeRecord>& exchanges, Verdict verdict, Messages& told);

// set address: the look at the new address (a query there) before the write. Silence
// is free (the verdict stays done); anything that answered is address-taken, and
// `occupied` tells what it was.
Verdict JudgeLook(const std::vector<ExchangeRecord>& look, bool still_working, std::uint8_t address,
                  std::string& occupied, Messages& told);

// A done write whose acknowledged value is not the one written (`wrong`: what to say).
Verdict JudgeAcknowledged(Verdict verdict, bool as_written, const std::string& wrong,
                          Messages& told);

// service: a done read whose answer does not hold the whole block of `count`
// registers is wrong-length; `answer` is then cleared.
Verdict JudgeServiceAnswer(Verdict verdict, std::vector<std::uint8_t>& answer, const char* block,
                           std::uint16_t count, int address, Messages& told);

// watch's queries by how they ended, each as query judges it: the summary's counts,
// and the status is the last query's.
struct WatchTally {
  int queries = 0;
  int answered = 0;
  int time_outs = 0;  // no answer, or none that the window takes
  int wrong = 0;      // answered badly: refused, garbled, another device, not a detector
  Verdict last = Verdict::NoAnswer();

  // A query's verdict; bytes that came with no query in flight and failed sends are
  // not queries (Counts).
  void Count(const Verdict& verdict);
  static bool Counts(const ExchangeRecord& record);
  // As query would end on the last query: 0 only when it was answered well; 3 after
  // a port failure.
  int Exit(bool port_failed) const { return port_failed ? kExitPort : last.exit; }
};

// What the search's exchanges show beyond the window's own "found".
struct SearchFindings {
  bool port_failed = false;
  // An address where two answers came in one probe's window, or one and a garbled one.
  std::optional<std::uint8_t> several;
  // The probes after which bytes came that formed no answer (answers that collide, a
  // unit at another speed, noise), each address once in a row.
  std::vector<int> garbled;
  long long probes = 0;
};
SearchFindings FindInSearch(const std::vector<ExchangeRecord>& exchanges);

// A sweep's exit status (search, survey): a port failure (3) wins over several devices
// at one address (6), which wins over what was found (`found`: 0, 1 or 4).
int SweepExit(int found, bool several, bool port_failed);
// The search's: found 0; nothing 1; nothing but garbled bytes 4.
int SearchExit(bool found, const SearchFindings& findings);
// The survey's found status: nothing (or stopped) 1; anything but detectors that all
// answered their query well 4; else 0.
int SurveyFound(bool any, bool all_well, bool stopped);

}  // namespace ornat::cli
