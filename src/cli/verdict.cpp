#include "cli/verdict.h"

#include <algorithm>

#include "cli/messages.h"
#include "modbus/answer_scan.h"
#include "modbus/protocol.h"
#include "modbus/rtu_codec.h"

namespace ornat::cli {

int ExitFor(ExchangeOutcome outcome) {
  switch (outcome) {
    case ExchangeOutcome::kOk:
      return kExitDone;
    case ExchangeOutcome::kTimeOut:
    case ExchangeOutcome::kNone:
      return kExitNoAnswer;
    case ExchangeOutcome::kPortError:
      return kExitPort;
    case ExchangeOutcome::kSeveralDevices:
      return kExitSeveralDevices;
    default:
      return kExitRefused;
  }
}

std::vector<std::uint8_t> ValidAnswer(const ExchangeRecord& record) {
  const auto& bytes = record.Answer();
  if (bytes.empty()) return {};
  Frame frame{};
  const std::size_t n = std::min(bytes.size(), frame.size() - 1);
  std::copy(bytes.begin(), bytes.begin() + static_cast<long>(n), frame.begin());
  auto count = static_cast<std::uint16_t>(n);
  if (!ValidateAnswer(frame, count)) return {};
  return {frame.begin(), frame.begin() + count};
}

Verdict JudgeExchanges(const std::vector<ExchangeRecord>& exchanges, bool still_working,
                       std::chrono::seconds limit, Messages& told) {
  if (exchanges.empty()) {
    told.push_back(NothingSentText());
    return Verdict::NoAnswer();
  }
  if (still_working) {
    told.push_back(NotEndedText(limit));
    return Verdict::NoAnswer();
  }
  const ExchangeRecord& last = exchanges.back();
  if (last.outcome != ExchangeOutcome::kOk) told.push_back(FailureText(last, last.outcome));
  return Verdict::Of(last.outcome);
}

Verdict JudgeWrites(const std::vector<ExchangeRecord>& exchanges, Verdict verdict,
                    const std::string& check, Messages& told) {
  bool maybe = false;
  for (const ExchangeRecord& record : exchanges) {
    if (record.request.size() != kRequestLength || record.request[1] != kWriteSingleRegister ||
        record.end != ExchangeRecord::End::kCompleted)
      continue;
    switch (record.outcome) {
      case ExchangeOutcome::kOk: {
        // The address byte the window has checked; function, register and value must be
        // the request's.
        const auto echo = ValidAnswer(record);
        if (echo.size() < 8 ||
            !std::equal(record.request.begin() + 1, record.request.begin() + 6, echo.begin() + 1)) {
          told.push_back(EchoDiffersText(record.request, echo));
          verdict = Verdict::Refused(kEchoDiffers);
          maybe = true;
        }
        break;
      }
      case ExchangeOutcome::kTimeOut:
      case ExchangeOutcome::kNone:
      case ExchangeOutcome::kCrcError:
      case ExchangeOutcome::kWrongAddress:
      case ExchangeOutcome::kResetError:
        maybe = true;
        break;
      default:
        break;
    }
  }
  if (maybe) told.push_back(MaybeCarriedOutText(check));
  return verdict;
}

Verdict QueryVerdict(const ExchangeRecord& record) {
  if (record.outcome == ExchangeOutcome::kOk && !NotAQueryAnswerText(record).empty())
    return Verdict::Refused(kNotAQueryAnswer);
  return Verdict::Of(record.outcome);
}

Verdict JudgeQuery(const std::vector<ExchangeRecord>& exchanges, Verdict verdict, Messages& told) {
  if (!verdict.Done() || exchanges.empty()) return verdict;
  const std::string why = NotAQueryAnswerText(exchanges.back());
  if (why.empty()) return verdict;
  told.push_back(why);
  return Verdict::Refused(kNotAQueryAnswer);
}

Verdict JudgeLook(const std::vector<ExchangeRecord>& look, bool still_working, std::uint8_t address,
                  std::string& occupied, Messages& told) {
  if (look.empty() || still_working) {
    told.push_back(LookNotEndedText(address));
    return Verdict::NoAnswer();
  }
  const ExchangeRecord& last = look.back();
  if (last.outcome == ExchangeOutcome::kPortError) {
    told.push_back(FailureText(last, ExchangeOutcome::kPortError));
    return Verdict::Of(ExchangeOutcome::kPortError);
  }
  if (last.AllBytes().empty()) return {};
  occupied = AnswererText(last);
  told.push_back(AddressTakenText(address, occupied));
  return Verdict::Refused(kAddressTaken);
}

Verdict JudgeAcknowledged(Verdict verdict, bool as_written, const std::string& wrong,
                          Messages& told) {
  if (!verdict.Done() || as_written) return verdict;
  told.push_back(wrong);
  return Verdict::Refused(kOtherValueAcknowledged);
}

Verdict JudgeServiceAnswer(Verdict verdict, std::vector<std::uint8_t>& answer, const char* block,
                           std::uint16_t count, int address, Messages& told) {
  if (!verdict.Done()) return verdict;
  if (answer.size() >= 5 && answer[1] == kReadHoldingRegisters && answer[2] == 2 * count &&
      answer.size() >= 5u + 2 * count)
    return verdict;
  told.push_back(ShortBlockText(address, answer, block, count));
  answer.clear();
  return Verdict::Refused(OutcomeName(ExchangeOutcome::kWrongLength));
}

void WatchTally::Count(const Verdict& verdict) {
  ++queries;
  if (verdict.exit == kExitDone) ++answered;
  if (verdict.exit == kExitNoAnswer) ++time_outs;
  if (verdict.exit == kExitRefused) ++wrong;
  last = verdict;
}

bool WatchTally::Counts(const ExchangeRecord& record) {
  return record.end != ExchangeRecord::End::kIdle && record.outcome != ExchangeOutcome::kPortError;
}

SearchFindings FindInSearch(const std::vector<ExchangeRecord>& exchanges) {
  SearchFindings findings;
  // An answer to a probe is handed over after the probe's window, between two probes or
  // in the next one's: bytes are told with the probe they came after.
  int probed_last = 0;
  for (const ExchangeRecord& record : exchanges) {
    if (record.PortFailed()) findings.port_failed = true;
    const std::vector<std::uint8_t> bytes = record.AllBytes();
    if (!findings.several) findings.several = SeveralAnswerers(bytes);
    if (OperationName(record) == "probe") {
      probed_last = record.request[0];
      ++findings.probes;
    }
    if (probed_last != 0 && !bytes.empty() && FindAnswers(bytes).empty() &&
        (findings.garbled.empty() || findings.garbled.back() != probed_last))
      findings.garbled.push_back(probed_last);
  }
  return findings;
}

int SweepExit(int found, bool several, bool port_failed) {
  if (port_failed) return kExitPort;
  if (several) return kExitSeveralDevices;
  return found;
}

int SearchExit(bool found, const SearchFindings& findings) {
  const int status = found ? kExitDone : findings.garbled.empty() ? kExitNoAnswer : kExitRefused;
  return SweepExit(status, findings.several.has_value(), findings.port_failed);
}

int SurveyFound(bool any, bool all_well, bool stopped) {
  if (stopped || !any) return kExitNoAnswer;
  return all_well ? kExitDone : kExitRefused;
}

}  // namespace ornat::cli
