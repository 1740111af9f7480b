// watch: the window's cyclic query ("В ЦИКЛЕ" and "ЗАПРОС ПАРАМЕТРОВ"), one line per
// query, until Ctrl-C, --count or a port error; then a summary, and the status query
// would give the last query.

#include <chrono>

#include "cli/commands.h"
#include "cli/commands/command.h"
#include "cli/port_failure.h"
#include "journal/exchange_journal.h"

namespace ornat::cli {

namespace {

// "СТОП", the query button's caption while the cyclic query runs. All Cyrillic.
constexpr const char* kStopCaption = "СТОП";

// What differs between two answers, by name.
std::vector<std::string> Changes(const ShownParameters& now, const ShownParameters& before) {
  std::vector<std::string> changed;
  if (now.state != before.state) changed.push_back("state");
  if (now.tactic_code != before.tactic_code) changed.push_back("tactic");
  if (now.latching != before.latching) changed.push_back("latching");
  if (now.test != before.test) changed.push_back("test");
  if (now.type != before.type) changed.push_back("type");
  return changed;
}

}  // namespace

int RunWatch(Session& session) {
  TForm1& form = session.form();
  HeadlessWindow& window = session.window();
  const Options& options = session.options();
  WatchSummary summary;
  WatchTally& tally = summary.tally;
  std::optional<ExchangeRecord> port_failure;
  std::optional<ShownParameters> previous;
  // Each exchange is printed as it ends; none is kept, so a watch of days holds no more
  // than one of minutes.
  window.KeepExchanges(false);
  window.OnExchange([&](const ExchangeRecord& record) {
    if (record.PortFailed()) port_failure = record;
    WatchLine line;
    line.record = &record;
    // Each line's verdict is the one query would give that exchange.
    line.verdict = QueryVerdict(record);
    if (line.verdict.Done()) line.shown = ReadShownParameters(form);
    // Bytes that came with no query in flight are shown, not counted.
    if (WatchTally::Counts(record)) tally.Count(line.verdict);
    if (line.shown && previous) line.changed = Changes(*line.shown, *previous);
    line.time = IsoLocalTime(std::chrono::system_clock::now());
    if (!options.json && options.verbose) Out(LogText(record));
    Print(session, line);
    if (line.shown) previous = line.shown;
  });
  const auto started = std::chrono::steady_clock::now();
  // "В ЦИКЛЕ" checked, then "ЗАПРОС ПАРАМЕТРОВ": the window's cyclic query.
  window.Do([&] {
    form.TeCheckBox1.Click();
    form.TeButton5.Click();
  });
  // Output that can no longer be written (a closed pipe, a full disk) stops it as
  // Ctrl-C does: nobody sees its lines.
  const auto counted = [&] { return options.count > 0 && tally.queries >= options.count; };
  // A port failure ends it: a send that failed has stopped the window's cyclic query
  // already; a line lost while an answer was awaited (a network line's server that
  // closes the connection each time) would not.
  window.RunUntil(
      [&] {
        return g_interrupted != 0 || OutputError() != 0 || counted() || port_failure ||
               !form.Working();
      },
      kForever);
  const bool done = counted();
  // "СТОП": a query in flight is still shown; nothing follows it.
  window.Do([&] {
    if (form.TeButton5.Caption() == kStopCaption) form.TeButton5.Click();
  });
  window.RunUntil([&] { return !form.Working(); }, kCommandLimit);
  if (port_failure) Err(PortFailureText(*port_failure) + "; the cyclic query stopped");
  summary.how = port_failure         ? "stopped by a port error"
                : done               ? "done"
                : g_interrupted != 0 ? "stopped by Ctrl-C"
                : OutputError() != 0 ? "stopped: its output cannot be written"
                                     : "stopped";
  summary.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  Summary(Text(summary));
  return tally.Exit(port_failure.has_value());
}

}  // namespace ornat::cli
