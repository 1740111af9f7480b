// search: the window's bus search, unchanged: the first detector from address 1.

#include <chrono>

#include "cli/commands.h"
#include "cli/commands/command.h"
#include "cli/messages.h"
#include "detector/register_map.h"
#include "detector/survey.h"
#include "ui/exchange_log.h"

namespace ornat::cli {

int RunSearch(Session& session) {
  TForm1& form = session.form();
  HeadlessWindow& window = session.window();
  SearchResult result;
  result.delay_ms =
      session.options().delay_ms != 0 ? session.options().delay_ms : form.State.SearchDelayMs;
  if (session.options().delay_ms != 0)
    window.Do([&] { DelayMenuItem(form, result.delay_ms)->Click(); });
  const std::size_t before = window.Exchanges().size();
  ProgressLine progress;
  const auto started = std::chrono::steady_clock::now();
  window.Do([&] { form.CustomItem5.Click(); });  // "Start"
  window.RunUntil(
      [&] {
        if (g_interrupted != 0 && !result.interrupted && form.State.SessionMode == kSessionSearch) {
          result.interrupted = true;
          form.CustomItem5.Click();  // "Stop" (not inside a handler: the loop is between items)
        }
        progress.Show(SearchProgress(form.TeProgressBar1.Position(), Speed(form.State.BaudIndex),
                                     result.delay_ms));
        return !form.Working();
      },
      kForever);
  progress.Clear();
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const std::vector<ExchangeRecord> exchanges(
      window.Exchanges().begin() + static_cast<long>(before), window.Exchanges().end());
  result.findings = FindInSearch(exchanges);
  result.log = form.TeMemo1.Lines();
  for (const auto& line : result.log)
    if (line.rfind(msg::kDeviceFound, 0) == 0) result.found = true;
  const int code = SearchExit(result.found, result.findings);
  if (result.findings.port_failed) {
    // A failed probe send halts the search; the window's "Stop" ends it.
    if (form.State.SessionMode == kSessionSearch) window.Do([&] { form.CustomItem5.Click(); });
    Err(FailureText(exchanges.back(), ExchangeOutcome::kPortError));
  }
  result.head = session.Head();
  result.speed = Speed(form.State.BaudIndex);
  result.exit = session.WithJournal(code);
  Print(session, result);
  Tell(SearchNotes(result));
  Summary(SearchSummary(result));
  return code;
}

}  // namespace ornat::cli
