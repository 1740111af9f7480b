#include "cli/render_text.h"

#include <charconv>
#include <cstdio>

#include "cli/messages.h"
#include "journal/exchange_journal.h"
#include "ui/exchange_log.h"

namespace ornat::cli {

namespace {

const char* OnOff(bool on) {
  return on ? "on" : "off";
}

std::string DetectorText(const ShownParameters& shown) {
  return "type      " + shown.type + "\nstate     " + shown.state + "\ntactic    " +
         TacticText(shown) + "\nlatching  " + OnOff(shown.latching) + "\ntest      " +
         OnOff(shown.test) + "\n";
}

// "НОРМА  tactic 8 IRMAX (- УФ+ИК - MAX*)  latching on  test off"
std::string StateText(const ShownParameters& shown) {
  return shown.state + "  tactic " + TacticText(shown) + "  latching " + OnOff(shown.latching) +
         "  test " + OnOff(shown.test);
}

// The progress line's place in a sweep: the address probed last, "starting" before any.
std::string ProbedText(int address, const char* of = "") {
  return address == 0 ? std::string("starting") : "address " + std::to_string(address) + of;
}

// "m:ss"
std::string Duration(double seconds) {
  const long whole = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

std::string Hex16(std::uint16_t value) {
  return "0x" + ByteToHex(static_cast<std::uint8_t>(value >> 8)) +
         ByteToHex(static_cast<std::uint8_t>(value));
}

// Why the queries of a detector failed, one reason a query: " (3 queries: ...)".
std::string QueryTroubles(const SurveyDevice& device) {
  if (device.query_troubles.empty()) return "";
  std::string text = " (";
  if (device.query_attempts > 1) text += std::to_string(device.query_attempts) + " queries: ";
  for (std::size_t i = 0; i < device.query_troubles.size(); ++i)
    text += (i > 0 ? "; " : "") + device.query_troubles[i];
  return text + ")";
}

std::string Count(std::size_t n) {
  return std::to_string(n);
}

}  // namespace

std::string Decimals(double value, int decimals) {
  char text[64];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return error == std::errc() ? std::string(text, end) : std::string("?");
}

std::string LogText(const ExchangeRecord& record) {
  std::string text;
  for (const auto& line : record.log) text += line + "\n";
  return text;
}

std::string TacticText(const ShownParameters& shown) {
  if (!shown.tactic_code) return "none";
  return std::to_string(*shown.tactic_code) + " " + shown.tactic_name + " (" + shown.tactic_label +
         ")";
}

std::string Text(const PortsResult& result) {
  std::string text;
  for (std::size_t i = 0; i < result.ports.size(); ++i) {
    text += result.ports[i];
    if (i < result.descriptions.size() && !result.descriptions[i].empty())
      text += "  " + result.descriptions[i];
    text += "\n";
  }
  // As the lines file has them, so that a line copied from here can go back into it.
  for (const NamedLine& line : result.lines) {
    text += line.name + " = " + line.target;
    if (line.net_delay_ms) text += " net-delay=" + std::to_string(*line.net_delay_ms);
    text += "\n";
  }
  return text;
}

std::string Text(const QueryResult& result) {
  if (!result.shown) return "";
  return "port      " + result.head.port + "\nspeed     " + result.speed + "\naddress   " +
         std::to_string(result.head.address) + "\n" + DetectorText(*result.shown);
}

std::string Text(const WatchLine& line) {
  std::string text = line.changed.empty() ? "  " : "* ";
  text += line.time + "  ";
  if (line.shown) {
    text += StateText(*line.shown);
    if (!line.changed.empty()) {
      text += "  [changed:";
      for (const auto& what : line.changed) text += " " + what;
      text += "]";
    }
  } else {
    const ExchangeRecord& record = *line.record;
    text += record.outcome == ExchangeOutcome::kOk ? NotAQueryAnswerText(record)
                                                   : FailureText(record, record.outcome);
  }
  return text + "\n";
}

std::string Text(const WatchSummary& summary) {
  const WatchTally& tally = summary.tally;
  return "watch " + summary.how + ": " + std::to_string(tally.queries) +
         (tally.queries == 1 ? " query: " : " queries: ") + std::to_string(tally.answered) +
         " answered, " + std::to_string(tally.time_outs) + " time-out(s), " +
         std::to_string(tally.wrong) + " wrong answer(s) in " + Decimals(summary.seconds, 1) +
         " s; the last: " + (tally.queries == 0 ? std::string("none") : tally.last.outcome);
}

std::string Text(const TacticResult& result) {
  if (!result.verdict.Done()) return "";
  return "tactic " + std::to_string(result.code) + " " + result.name + " (" + result.label +
         ") written to address " + std::to_string(result.head.address) + ": acknowledged\n";
}

std::string Text(const TestResult& result) {
  if (!result.verdict.Done()) return "";
  const std::string address = std::to_string(result.head.address);
  if (result.written)
    return std::string("test mode ") + OnOff(result.on) + " written to address " + address +
           ": acknowledged\n";
  return std::string("test mode is ") + OnOff(result.on) + " at address " + address +
         " already: nothing written\n";
}

std::string Text(const ResetAlarmResult& result) {
  if (!result.verdict.Done()) return "";
  return "alarm reset sent to address " + std::to_string(result.head.address) + ": acknowledged\n";
}

std::string Text(const AddressResult& result) {
  if (!result.verdict.Done()) return "";
  return "address " + std::to_string(result.previous) + " -> " +
         std::to_string(result.acknowledged) + ": acknowledged; use --address " +
         std::to_string(result.acknowledged) + " from now on\n";
}

std::string Text(const BaudResult& result) {
  if (!result.verdict.Done()) return "";
  // The PC follows only when the window asked (a command line answers No).
  if (!result.questions.empty())
    return "line speed " + result.acknowledged + " bit/s: acknowledged; the detector answers at " +
           result.acknowledged + " bit/s from now on: use --baud " + result.acknowledged + "\n";
  return "line speed " + result.acknowledged + " bit/s: acknowledged; the PC runs at it already\n";
}

std::string Text(const ResetInterfaceResult& result) {
  if (!result.verdict.Done()) return "";
  return "interface reset: acknowledged; the detector answers at address 247, 9600 bit/s: use "
         "--address 247 --baud 9600\n";
}

std::string Text(const ServiceResult& result) {
  std::string text;
  for (std::uint16_t k = 0; k < result.count && !result.answer.empty(); ++k) {
    const auto reg = static_cast<std::uint16_t>(result.first + k);
    text += ByteToHex(static_cast<std::uint8_t>(reg >> 8)) +
            ByteToHex(static_cast<std::uint8_t>(reg)) + "  " + ByteToHex(result.answer[3 + 2 * k]) +
            " " + ByteToHex(result.answer[4 + 2 * k]) + "\n";
  }
  return text;
}

std::string Text(const SearchResult& result) {
  if (!result.found) return "";
  return "found a detector at address " + std::to_string(result.head.address) + " (" +
         result.speed + " bit/s)\n";
}

std::string SurveyLine(const SurveyDevice& device) {
  char head[32];
  std::snprintf(head, sizeof head, "%3d  %5s  ", device.address, Speed(device.baud_index).c_str());
  std::string text = head;
  const std::string address = std::to_string(device.address);
  switch (device.kind) {
    case SurveyDevice::Kind::kDetector:
      text += "detector  ";
      if (device.several_devices)
        text += "two or more devices answer at address " + address;
      else if (device.query_outcome == ExchangeOutcome::kOk)
        text += StateText(device.shown);
      else if (device.queried)
        text += std::string("query: ") + OutcomeName(device.query_outcome) + QueryTroubles(device);
      else
        text += "query: not made (the survey ended first)";
      break;
    case SurveyDevice::Kind::kOtherIdentity:
      text += "identity " + Hex16(device.identity) + " (not an ORNAT(-2)-Zev)";
      break;
    case SurveyDevice::Kind::kException:
      text += "exception " + std::to_string(device.exception_code) + " (refused the probe)";
      break;
    case SurveyDevice::Kind::kGarbled:
      text += "garbled   " +
              (device.several_devices
                   ? "two or more devices answer at address " + address +
                         " at once: no answer came whole in " + std::to_string(device.attempt) +
                         " probes (or one unit garbles its answers)"
                   : "its answers failed their CRC check at every probe (" +
                         std::to_string(device.attempt) +
                         "): a faulty unit, interference, or two devices answering at once");
      return text + "\n";
  }
  if (device.several_devices && device.kind != SurveyDevice::Kind::kDetector)
    text += "  [two or more devices answer at address " + address + "]";
  if (device.late)
    text += "  [came after its probe's window]";
  else if (device.probed != device.address)
    text += "  [answered the probe to " + std::to_string(device.probed) + "]";
  if (device.TrailingByte())
    text += "  [trailing byte " + ByteToHex(device.after[0]) + "]";
  else if (!device.before.empty() || !device.after.empty())
    text += "  [amid " + Count(device.before.size() + device.after.size()) + " stray byte(s)]";
  if (device.attempt > 1) text += "  [probe " + std::to_string(device.attempt) + " of its address]";
  return text + "\n";
}

std::string SurveyNoiseText(const SurveyNoise& noise) {
  const std::string where =
      (noise.probed == 0 ? std::string("between two probes")
                         : "after the probe to " + std::to_string(noise.probed)) +
      " at " + Speed(noise.baud_index) + " bit/s" +
      (noise.attempt > 1 ? " (probe " + std::to_string(noise.attempt) + " of that address)" : "");
  if (!noise.whole_answer)
    return "bytes that form no answer " + where + ": " + HexText(noise.bytes);
  const std::vector<std::uint8_t> answer(
      noise.bytes.begin() + static_cast<long>(noise.answer_at),
      noise.bytes.begin() + static_cast<long>(noise.answer_at + noise.answer_length));
  return "a whole answer that no probe asks for, " + Count(answer.size()) + " bytes from address " +
         std::to_string(answer[0]) + ", " + where + ": " + HexText(answer) +
         (answer.size() < noise.bytes.size() ? " (all bytes read: " + HexText(noise.bytes) + ")"
                                             : "");
}

Messages SearchNotes(const SearchResult& result) {
  Messages notes;
  const SearchFindings& findings = result.findings;
  if (findings.several) notes.push_back(SeveralDevicesText(*findings.several));
  if (!result.found && !findings.port_failed)
    notes.push_back(result.interrupted ? "search stopped at address " +
                                             std::to_string(result.head.address) + ": nothing found"
                                       : "no detector found at " + result.speed + " bit/s");
  if (!result.found && !findings.garbled.empty()) {
    const auto& garbled = findings.garbled;
    std::string at;
    for (std::size_t i = 0; i < garbled.size() && i < 8; ++i)
      at += (i > 0 ? ", " : "") + std::to_string(garbled[i]);
    if (garbled.size() > 8) at += " and " + Count(garbled.size() - 8) + " more";
    notes.push_back("but bytes that form no answer came after the probe(s) to " + at +
                    ": two or more devices answering at once, a unit at another speed, or noise; "
                    "\"ornat-cli survey --addresses N\" probes an address again and tells which");
  }
  return notes;
}

std::string SearchSummary(const SearchResult& result) {
  return "search took " + Decimals(result.seconds, 1) + " s";
}

Messages SurveyNotes(const SurveyResult& result, bool verbose) {
  Messages notes;
  if (result.port_failed) notes.push_back(result.port_failure + "; the survey stopped");
  for (int address : result.several) notes.push_back(SeveralDevicesText(address));
  if (result.late_answers > 0)
    notes.push_back(std::to_string(result.late_answers) +
                    " answer(s) came after their probe's window: a device answers slowly; "
                    "repeat with a longer --delay");
  // Noise is told in one line; each window's bytes with -v, and in the journal.
  if (!result.noise.empty()) {
    if (verbose)
      for (const auto& noise : result.noise) notes.push_back(SurveyNoiseText(noise));
    else
      notes.push_back(Count(result.noise.size()) +
                      " window(s) held bytes that are no device's answer (noise, a garbled "
                      "answer, or an answer no probe asks for); -v shows each, --journal keeps "
                      "every byte");
  }
  if (result.interrupted) {
    if (result.devices.empty()) notes.push_back("nothing found before the stop");
  } else if (result.devices.empty() && !result.port_failed) {
    notes.push_back("no device answered");
  }
  return notes;
}

std::string SurveySummary(const SurveyResult& result) {
  const std::string again =
      result.probes_again > 0 ? " (" + std::to_string(result.probes_again) + " made again)" : "";
  const std::string counts = Count(result.devices.size()) + " device(s), " +
                             std::to_string(result.probes) + " probes" + again + " in " +
                             Decimals(result.seconds, 1) + " s";
  if (result.interrupted)
    return "survey stopped by Ctrl-C at address " + std::to_string(result.stopped_at) + ", " +
           Speed(result.stopped_baud) + " bit/s: " + counts;
  return "survey done: " + counts + " (nominal " + Decimals(result.nominal_seconds, 1) + " s)";
}

std::string SearchProgress(int probed, const std::string& speed, int delay_ms) {
  return "search: " + ProbedText(probed, "/247") + " at " + speed + " bit/s, " +
         std::to_string(delay_ms) + " ms windows, about " +
         Duration((247 - probed) * (delay_ms + 5) / 1000.0) + " left";
}

std::string SurveyProgress(const BusSurvey::Progress& progress, std::size_t found) {
  return "survey: " + Speed(progress.baud_index) + " bit/s (" +
         std::to_string(progress.speed_number) + "/" + std::to_string(progress.speed_count) +
         "), " + ProbedText(progress.address) + ", " + Count(found) + " found, about " +
         Duration(progress.ms_left / 1000.0) + " left";
}

}  // namespace ornat::cli
