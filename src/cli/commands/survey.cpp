// survey: every device on the line, at one or more speeds (detector/survey.h).

#include <chrono>

#include "cli/commands.h"
#include "cli/commands/command.h"
#include "cli/port_failure.h"
#include "cli/terminal.h"

namespace ornat::cli {

namespace {

// Why the port failed, from the exchange it failed.
std::string SurveyPortFailure(Session& session) {
  const auto& all = session.window().Exchanges();
  const auto failed = std::find_if(
      all.rbegin(), all.rend(), [](const ExchangeRecord& record) { return record.PortFailed(); });
  return failed != all.rend() ? PortFailureText(*failed)
                              : "the port \"" + session.Port() + "\" cannot be opened";
}

}  // namespace

int RunSurvey(Session& session) {
  HeadlessWindow& window = session.window();
  const Options& options = session.options();
  BusSurvey survey(session.form(), {options.speeds, options.ranges, options.delay_ms});
  ProgressLine progress;
  // Each device as soon as its line is complete; the JSON document comes at the end.
  // On a terminal the progress line gives way to it first.
  const bool out_on_terminal = OutputTerminal();
  if (!options.json) {
    survey.OnDevice([&](const SurveyDevice& device) {
      if (out_on_terminal) progress.Clear();
      Out(SurveyLine(device));
    });
  }
  window.observers().Add(&survey);
  const auto started = std::chrono::steady_clock::now();
  survey.Start();
  bool stop_sent = false;
  window.RunUntil(
      [&] {
        if (g_interrupted != 0 && !stop_sent) {
          stop_sent = true;
          survey.Stop();
        }
        progress.Show(SurveyProgress(survey.CurrentProgress(), survey.Devices().size()));
        return survey.Done();
      },
      kForever);
  progress.Clear();
  window.observers().Remove(&survey);

  SurveyResult result;
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.port = session.Port();
  result.speeds = options.speeds;
  result.ranges = options.ranges;
  for (std::uint8_t baud_index : options.speeds)
    result.windows_ms.push_back(survey.WindowMs(baud_index));
  result.devices = survey.Devices();
  result.noise = survey.Noise();
  bool all_well = true;
  for (const auto& device : result.devices) {
    if (device.kind != SurveyDevice::Kind::kDetector ||
        (device.queried && device.query_outcome != ExchangeOutcome::kOk))
      all_well = false;
    if (device.several_devices) result.several.push_back(device.address);
  }
  result.late_answers = survey.LateAnswers();
  result.probes = survey.Probes();
  result.probes_again = survey.Reprobes();
  result.interrupted = survey.Stopped();
  result.port_failed = survey.PortFailed();
  if (result.port_failed) result.port_failure = SurveyPortFailure(session);
  const auto where = survey.CurrentProgress();
  result.stopped_at = where.address;
  result.stopped_baud = where.baud_index;
  result.nominal_seconds = survey.NominalMs() / 1000.0;
  const int code = SweepExit(SurveyFound(!result.devices.empty(), all_well, result.interrupted),
                             !result.several.empty(), result.port_failed);
  result.exit = session.WithJournal(code);
  if (options.json) Out(Document(result) + "\n");
  Tell(SurveyNotes(result, options.verbose));
  Summary(SurveySummary(result));
  return code;
}

}  // namespace ornat::cli
