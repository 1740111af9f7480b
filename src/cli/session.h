#pragma once
// One command's run: the journal, the headless window with the common options applied
// (port, speed, address, --verbose), the line held against other ornat programs, and
// the exit status with the journal counted.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/headless_window.h"
#include "cli/results.h"
#include "cli/verdict.h"
#include "journal/exchange_journal.h"
#include "serial/line_lock.h"
#include "serial/network/user_lines.h"

namespace ornat::cli {

// The longest a one-shot command can take is an interface reset at 1200 bit/s, two
// 3000 ms time-outs; this limit is only a guard against a window that never settles.
inline constexpr std::chrono::seconds kCommandLimit{60};
// The sweeps and watch run until they end or are stopped.
inline constexpr std::chrono::hours kForever{24 * 365};

class Session {
 public:
  explicit Session(const Options& options) : options_(options) {}

  // Reads the user's lines file (its bad lines told on stderr), opens the journal,
  // builds the window and, for every command but the port list,
  // holds the line. -1 when open; otherwise the exit status (3: the journal cannot be
  // opened, or another ornat program holds the line; told, and in JSON documented).
  int Open();

  HeadlessWindow& window() { return *window_; }
  TForm1& form() { return window_->form(); }
  const Options& options() const { return options_; }
  // The user's named lines, all of them (the Port menu shows those that fit).
  const std::vector<NamedLine>& NamedLines() const { return user_lines_.lines; }
  // The port as the window has it.
  std::string Port();
  // The head of the command's document, as the window stands now.
  DocumentHead Head();

  // Runs one user action and the exchanges it starts (up to kCommandLimit) into
  // `exchanges`; their verdict (JudgeExchanges).
  Verdict Perform(const std::function<void()>& action, std::vector<ExchangeRecord>& exchanges,
                  Messages& told);
  // A user action that writes, judged as the detector's acknowledgement of its writes
  // (JudgeWrites). `check`: the queries that show whether a write not acknowledged was
  // carried out all the same; empty: the query of the address and speed in use.
  Verdict Write(const std::function<void()>& action, std::vector<ExchangeRecord>& exchanges,
                Messages& told, const std::string& check = "");
  // The query that checks a write at that address and speed, on this port.
  std::string CheckQuery(std::uint8_t address, std::uint8_t baud_index);
  // The common part of a command's result, as the window stands now.
  void Conclude(ExchangesResult& result, std::vector<ExchangeRecord> exchanges,
                const Verdict& verdict);

  // The exit status with the journal counted: a journal that lost exchanges turns a
  // done command into a port error, so that a script that keeps the journal as its
  // record does not take it for whole.
  int WithJournal(int code) const;
  Verdict WithJournal(const Verdict& verdict) const;
  // Tells how many exchanges the journal misses, if any.
  void ReportJournal() const;

 private:
  // -1 when the line is held (or cannot be locked at all: the port's exclusive open
  // still guards each exchange); kExitPort when another ornat program holds it.
  int HoldLine();
  bool JournalComplete() const { return !journal_ || journal_->LinesLost() == 0; }

  const Options& options_;
  UserLines user_lines_;
  std::unique_ptr<ExchangeJournal> journal_;
  // Let go after the window, which closes the port as it goes.
  LineLock line_;
  std::unique_ptr<HeadlessWindow> window_;
};

}  // namespace ornat::cli
