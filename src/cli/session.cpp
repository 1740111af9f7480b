#include "cli/session.h"

#include "cli/messages.h"
#include "cli/output.h"
#include "cli/render_json.h"
#include "cli/render_text.h"
#include "modbus/exchange.h"
#include "serial/comport.h"
#include "serial/platform/platform.h"

namespace ornat::cli {

int Session::Open() {
  user_lines_ = LoadUserLines();
  for (const std::string& warning : user_lines_.warnings) Err(warning);
  if (options_.journal) {
    try {
      journal_ = std::make_unique<ExchangeJournal>(*options_.journal, "ornat-cli");
      journal_->SetErrorSink([](const std::string& message) { Err(message); });
    } catch (const JournalError& e) {
      Err(e.what());
      return kExitPort;
    }
  }
  window_ = std::make_unique<HeadlessWindow>(journal_.get(), user_lines_.lines);
  if (options_.port) window_->SelectPort(*options_.port);
  window_->SetNetDelay(options_.net_delay_ms);
  if (options_.baud_index) window_->SelectBaud(*options_.baud_index);
  if (options_.address) window_->TypeAddress(*options_.address);
  if (options_.verbose && !options_.json)
    window_->OnExchange([](const ExchangeRecord& record) { Out(LogText(record)); });
  // Every command but the port list makes exchanges: the line is this command's, against
  // every other ornat program, from before the first of them to the command's end.
  if (options_.command != Command::kPorts) return HoldLine();
  return -1;
}

int Session::HoldLine() {
  const std::string runs =
      ThisProgramName() + " " + options_.command_text + " --port " + ShellWord(Port());
  switch (line_.Take(Port(), runs)) {
    case LineLock::Outcome::kTaken:
      return -1;
    case LineLock::Outcome::kUnavailable:
      Err(LineUnlockedText(Port(), SystemErrorText(line_.Error())));
      return -1;
    case LineLock::Outcome::kInUse:
      break;
  }
  // Refused as the window refuses a send: a failed send in the journal and the document.
  const EComPort error = LineInUse(line_.Holder());
  LineInUseResult result;
  ExchangeRecord& record = result.record;
  record.end = ExchangeRecord::End::kSendFailed;
  record.port = Port();
  record.bit_rate = BaudRateToBits(form().ComPort1().BaudRate());
  record.started = record.ended = form().Environment().scheduler->Now();
  NoteSendFailure(record, error);
  record.log = SendFailureLines(record.port, error);
  if (journal_) journal_->ExchangeEnded(record);
  Err(LineInUseText(Port(), LineHolderText(line_.Holder())));
  if (options_.json) {
    result.head = Head();
    result.outcome = OutcomeName(record.outcome);
    result.pid = line_.Holder().pid;
    result.runs = line_.Holder().runs;
    Out(Document(result) + "\n");
  }
  return kExitPort;
}

std::string Session::Port() {
  return form().ComPort1().Port();
}

DocumentHead Session::Head() {
  return {options_.command_text, Port(), BaudRateToBits(form().ComPort1().BaudRate()),
          form().State.DeviceAddress};
}

Verdict Session::Perform(const std::function<void()>& action,
                         std::vector<ExchangeRecord>& exchanges, Messages& told) {
  exchanges = window_->Perform(action, kCommandLimit);
  return JudgeExchanges(exchanges, form().Working(), kCommandLimit, told);
}

Verdict Session::Write(const std::function<void()>& action, std::vector<ExchangeRecord>& exchanges,
                       Messages& told, const std::string& check) {
  const Verdict verdict = Perform(action, exchanges, told);
  return JudgeWrites(
      exchanges, verdict,
      check.empty() ? CheckQuery(form().State.DeviceAddress, form().State.BaudIndex) : check, told);
}

std::string Session::CheckQuery(std::uint8_t address, std::uint8_t baud_index) {
  return QueryCommand(Port(), address, baud_index);
}

void Session::Conclude(ExchangesResult& result, std::vector<ExchangeRecord> exchanges,
                       const Verdict& verdict) {
  result.head = Head();
  result.verdict = verdict;
  result.reported = WithJournal(verdict);
  result.exchanges = std::move(exchanges);
}

int Session::WithJournal(int code) const {
  return JournalComplete() || code != kExitDone ? code : kExitPort;
}

Verdict Session::WithJournal(const Verdict& verdict) const {
  return JournalComplete() || !verdict.Done() ? verdict : Verdict{kExitPort, kJournalIncomplete};
}

void Session::ReportJournal() const {
  if (JournalComplete()) return;
  Err("the journal \"" + journal_->Path() + "\" misses " + std::to_string(journal_->LinesLost()) +
      " exchange(s)");
}

}  // namespace ornat::cli
