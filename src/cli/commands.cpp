#include "cli/commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include "cli/headless_window.h"
#include "cli/output.h"
#include "cli/port_problem.h"
#include "cli/terminal.h"
#include "detector/register_map.h"
#include "detector/shown_parameters.h"
#include "detector/survey.h"
#include "journal/exchange_journal.h"
#include "journal/json.h"
#include "modbus/answer_scan.h"
#include "modbus/exchange.h"
#include "modbus/rtu_codec.h"
#include "serial/comport.h"
#include "serial/line_lock.h"
#include "serial/platform/platform.h"
#include "ui/exchange_log.h"
#include "modbus/exchange_outcome.h"

namespace ornat::cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The longest a one-shot command can take is an interface reset at 1200 bit/s, two
// 3000 ms time-outs; this limit is only a guard against a window that never settles.
constexpr auto kCommandLimit = 60s;
constexpr auto kForever = std::chrono::hours(24 * 365);
// "СТОП", the query button's caption while the cyclic query runs. All Cyrillic.
constexpr const char* kStopCaption = "СТОП";

std::string Speed(std::uint8_t baud_index) {
  return kBaudTable[baud_index < kBaudTable.size() ? baud_index : 3].speed_text;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The progress line's place in a sweep: the address probed last, "starting" before any.
std::string ProbedText(int address, const char* of = "") {
  return address == 0 ? std::string("starting") : "address " + std::to_string(address) + of;
}

std::string Duration(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

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

// What a command concludes: its exit status and the outcome its JSON document names,
// decided together in one place, so that the two always agree. The outcome is the
// log's name for what happened ("time-out", "exception"...) or, where the command
// judged an exchange that the window took as good, the command's own name for what it
// found wrong ("echo-differs", "address-taken"...).
struct Verdict {
  int exit = kExitDone;
  std::string outcome = OutcomeName(ExchangeOutcome::kOk);

  static Verdict Of(ExchangeOutcome o) { return {ExitFor(o), OutcomeName(o)}; }
  static Verdict Refused(std::string outcome) { return {kExitRefused, std::move(outcome)}; }
  static Verdict NoAnswer() { return Of(ExchangeOutcome::kNone); }
  bool Done() const { return exit == kExitDone; }
};

// A write acknowledged with another value than the one written (address, speed).
constexpr const char* kOtherValueAcknowledged = "other-value-acknowledged";

// What the tools say of an address at which two or more devices answer, and how to part
// them.
std::string SeveralDevicesText(int address) {
  return "two or more devices answer at address " + std::to_string(address) +
         ": power them one at a time and give each its own address with \"ornat-cli set "
         "address\"";
}

// The answer the completion judged, as the validator leaves it; empty when not valid.
std::vector<std::uint8_t> ValidAnswer(const ExchangeRecord& r) {
  const auto& bytes = r.Answer();
  if (bytes.empty()) return {};
  Frame f{};
  const std::size_t n = std::min(bytes.size(), f.size() - 1);
  std::copy(bytes.begin(), bytes.begin() + static_cast<long>(n), f.begin());
  auto count = static_cast<std::uint16_t>(n);
  if (!ValidateAnswer(f, count)) return {};
  return {f.begin(), f.begin() + count};
}

// What is wrong with the port, in the command line's words: the programs found holding
// it, or the platform's error number of the failed open or write in the platform's
// words (port_problem_*.cpp), without the serial component's Windows-style code.
PortProblem PortProblemOf(const ExchangeRecord& r) {
  if (!r.failure_holders.empty()) {
    std::string text = "held by ";
    for (std::size_t i = 0; i < r.failure_holders.size(); ++i) {
      const PortHolder& h = r.failure_holders[i];
      if (i > 0) text += ", ";
      const std::string pid = "pid " + std::to_string(h.pid);
      text += h.name.empty() ? pid : h.name + " (" + pid + ")";
    }
    return {text, false};
  }
  PortProblem p = DescribePortProblem(r.failure_code, r.failure_errno);
  if (p.text.empty()) p.text = r.failure;
  return p;
}

std::string PortFailureText(const ExchangeRecord& r) {
  const std::string port = "the port \"" + r.port + "\"";
  const PortProblem problem = PortProblemOf(r);
  if (r.failure_code == CError_WriteFailed)
    return "the request could not be written to " + port + ": " + problem.text;
  return port + " cannot be opened" + (problem.text.empty() ? "" : ": " + problem.text) +
         (problem.list_hint ? "; \"ornat-cli ports\" lists the ports" : "");
}

// Shows a progress line on stderr when it is a terminal or a console, drawn over in
// place in the way that console takes.
class ProgressLine {
 public:
  ProgressLine() : console_(ProgressTerminal()) {}
  ~ProgressLine() { Clear(); }
  void Show(const std::string& text) {
    if (console_.kind == ProgressConsole::Kind::kNone) return;
    const auto now = Clock::now();
    if (shown_ && now - last_ < 200ms) return;
    last_ = now;
    shown_ = true;
    Draw(text);
  }
  void Clear() {
    if (!shown_) return;
    Draw("");
    shown_ = false;
  }

 private:
  void Draw(const std::string& text) {
    WriteStream(stderr, ProgressBytes(text, console_, columns_));
  }

  ProgressConsole console_;
  bool shown_ = false;
  std::size_t columns_ = 0;
  Clock::time_point last_{};
};

void WriteDetector(JsonWriter& j, const ShownParameters& p) {
  j.BeginObject();
  j.Key("type").String(p.type);
  j.Key("state").String(p.state);
  j.Key("tactic");
  if (p.tactic_code) {
    j.BeginObject();
    j.Key("code").Int(*p.tactic_code);
    j.Key("name").String(p.tactic_name);
    j.Key("label").String(p.tactic_label);
    j.EndObject();
  } else {
    j.Null();
  }
  j.Key("latching").Bool(p.latching);
  j.Key("test").Bool(p.test);
  j.EndObject();
}

void WriteExchange(JsonWriter& j, const ExchangeRecord& r) {
  j.BeginObject();
  j.Key("operation").String(OperationName(r));
  j.Key("request").String(HexText(r.request));
  j.Key("answer").String(HexText(r.AllBytes()));
  j.Key("outcome").String(OutcomeName(r.outcome));
  j.Key("log").Strings(r.log);
  if (!r.failure.empty())
    j.Key("failure").String(r.end == ExchangeRecord::End::kSendFailed && kJsonFailureInOwnWords
                                ? PortFailureText(r)
                                : r.failure);
  j.EndObject();
}

std::string TacticText(const ShownParameters& p) {
  if (!p.tactic_code) return "none";
  return std::to_string(*p.tactic_code) + " " + p.tactic_name + " (" + p.tactic_label + ")";
}

std::string DetectorText(const ShownParameters& p) {
  return "type      " + p.type + "\nstate     " + p.state + "\ntactic    " + TacticText(p) +
         "\nlatching  " + (p.latching ? "on" : "off") + "\ntest      " + (p.test ? "on" : "off") +
         "\n";
}

// One command's run: the journal, the headless window with the common options applied.
class Session {
 public:
  explicit Session(const Options& o) : o_(o) {}

  // -1 when open; otherwise the exit status.
  int Open() {
    if (o_.journal) {
      try {
        journal_ = std::make_unique<ExchangeJournal>(*o_.journal, "ornat-cli");
        journal_->SetErrorSink([](const std::string& message) { Err(message); });
      } catch (const JournalError& e) {
        Err(e.what());
        return kExitPort;
      }
    }
    win_ = std::make_unique<HeadlessWindow>(journal_.get());
    if (o_.port) win_->SelectPort(*o_.port);
    if (o_.baud_index) win_->SelectBaud(*o_.baud_index);
    if (o_.address) win_->TypeAddress(*o_.address);
    if (o_.verbose && !o_.json) win_->OnExchange([](const ExchangeRecord& r) { PrintLog(r); });
    // Every command but the port list makes exchanges: the line is this command's, against
    // every other ornat program, from before the first of them to the command's end.
    if (o_.command != Command::kPorts) return HoldLine();
    return -1;
  }

  // -1 when the line is held (or cannot be locked at all: the port's exclusive open still
  // guards each exchange); kExitPort when another ornat program holds it.
  int HoldLine() {
    const std::string runs =
        ThisProgramName() + " " + o_.command_text + " --port " + ShellWord(Port());
    switch (line_.Take(Port(), runs)) {
      case LineLock::Outcome::kTaken:
        return -1;
      case LineLock::Outcome::kUnavailable:
        Err("the line \"" + Port() + "\" cannot be locked against other ornat programs (" +
            SystemErrorText(line_.Error()) + "); going on without");
        return -1;
      case LineLock::Outcome::kInUse:
        break;
    }
    // Refused as the window refuses a send: a failed send in the journal and the document.
    const EComPort e = LineInUse(line_.Holder());
    ExchangeRecord r;
    r.end = ExchangeRecord::End::kSendFailed;
    r.port = Port();
    r.bit_rate = BaudRateToBits(w().ComPort1().BaudRate());
    r.started = r.ended = w().Environment().scheduler->Now();
    NoteSendFailure(r, e);
    r.log = SendFailureLines(r.port, e);
    if (journal_) journal_->ExchangeEnded(r);
    Err("the line \"" + Port() + "\" is in use by " + LineHolderText(line_.Holder()) +
        "; wait for it to end or stop it");
    if (o_.json) {
      JsonWriter j;
      Head(j);
      j.Key("outcome").String(OutcomeName(r.outcome));
      j.Key("exit").Int(kExitPort);
      j.Key("line_in_use").BeginObject();
      j.Key("pid").Int(line_.Holder().pid);
      j.Key("runs").String(line_.Holder().runs);
      j.EndObject();
      j.Key("exchanges").BeginArray();
      WriteExchange(j, r);
      j.EndArray();
      j.EndObject();
      Out(j.Text() + "\n");
    }
    return kExitPort;
  }

  // A word as a shell takes it: as it is when that is safe, else in single quotes.
  static std::string ShellWord(const std::string& word) {
    if (word.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./-") ==
        std::string::npos)
      return word;
    return "'" + word + "'";
  }

  static void PrintLog(const ExchangeRecord& r) {
    std::string text;
    for (const auto& line : r.log) text += line + "\n";
    Out(text);
  }

  // The exit status with the journal counted: a journal that lost exchanges turns a
  // done command into a port error, so that a script that keeps the journal as its
  // record does not take it for whole.
  int Exit(int code) const { return JournalComplete() || code != kExitDone ? code : kExitPort; }
  Verdict Exit(const Verdict& v) const {
    return JournalComplete() || !v.Done() ? v : Verdict{kExitPort, "journal-incomplete"};
  }
  bool JournalComplete() const { return !journal_ || journal_->LinesLost() == 0; }
  void ReportJournal() const {
    if (!journal_ || journal_->LinesLost() == 0) return;
    Err("the journal \"" + journal_->Path() + "\" misses " + std::to_string(journal_->LinesLost()) +
        " exchange(s)");
  }

  HeadlessWindow& win() { return *win_; }
  TForm1& w() { return win_->form(); }
  const Options& o() const { return o_; }
  std::string Port() { return w().ComPort1().Port(); }

  // The document's common head: command, port, PC speed, address.
  void Head(JsonWriter& j) {
    j.BeginObject();
    j.Key("command").String(o_.command_text);
    j.Key("port").String(Port());
    j.Key("baud").Int(BaudRateToBits(w().ComPort1().BaudRate()));
    j.Key("address").Int(w().State.DeviceAddress);
  }

  // Runs one user action and the exchanges it starts; the outcome of the last decides.
  Verdict Exchange(const std::function<void()>& action, std::vector<ExchangeRecord>& out) {
    out = win_->Perform(action, kCommandLimit);
    if (out.empty()) {
      Err("nothing was sent: the window's logic refused the command");
      return Verdict::NoAnswer();
    }
    if (w().Working()) {
      Err("the exchange did not end within " + std::to_string(kCommandLimit.count()) + " s");
      return Verdict::NoAnswer();
    }
    const ExchangeOutcome outcome = out.back().outcome;
    if (outcome != ExchangeOutcome::kOk) Err(FailureText(out.back(), outcome));
    return Verdict::Of(outcome);
  }

  // The query an engineer checks a write with: the window's parameter query at that
  // address and speed, on this port.
  std::string QueryCommand(std::uint8_t address, std::uint8_t baud_index) {
    return "ornat-cli query --port " + ShellWord(Port()) + " --address " + std::to_string(address) +
           " --baud " + Speed(baud_index);
  }

  // The writes of a command, judged as the detector's acknowledgement of them: each
  // echo must be the request (the address byte the window has checked). When the
  // acknowledgement failed, or did not come as sent, the detector may have carried
  // the write out all the same (a slow detector, an answer lost on the line): the
  // message says so and how to check. `check`: the queries to run.
  Verdict JudgeWrites(const std::vector<ExchangeRecord>& ex, Verdict v, const std::string& check) {
    bool maybe = false;
    for (const ExchangeRecord& r : ex) {
      if (r.request.size() != 8 || r.request[1] != 6 || r.end != ExchangeRecord::End::kCompleted)
        continue;
      const ExchangeOutcome outcome = r.outcome;
      if (outcome == ExchangeOutcome::kOk) {
        const auto echo = ValidAnswer(r);
        if (echo.size() < 8 ||
            !std::equal(r.request.begin() + 1, r.request.begin() + 6, echo.begin() + 1)) {
          Err("the echo differs from the request: sent " + HexText(r.request) + ", echoed " +
              HexText(echo));
          v = Verdict::Refused("echo-differs");
          maybe = true;
        }
      } else if (outcome == ExchangeOutcome::kTimeOut || outcome == ExchangeOutcome::kNone ||
                 outcome == ExchangeOutcome::kCrcError ||
                 outcome == ExchangeOutcome::kWrongAddress ||
                 outcome == ExchangeOutcome::kResetError) {
        maybe = true;
      }
    }
    if (maybe)
      Err("the detector may have carried out the write all the same: only its acknowledgement "
          "is missing. Check with: " +
          check);
    return v;
  }

  static std::string Where(const ExchangeRecord& r) {
    return (r.request.empty() ? std::string("the line")
                              : "address " + std::to_string(r.request[0])) +
           " at " + std::to_string(r.bit_rate) + " bit/s on " + r.port;
  }

  // A query's answer must be a register read. The window says "ОК." after any answer
  // of function 3, 6 or 16 and shows nothing for the others: a write's echo that came
  // late (after its own request had timed out) would be taken for the query's answer.
  // Empty when the answer is one; otherwise what it is.
  static std::string NotAQueryAnswer(const ExchangeRecord& r) {
    const auto answer = ValidAnswer(r);
    if (answer.size() >= 2 && answer[1] == 3) return "";
    return "the answer from " + Where(r) + " is no answer to the query: function code " +
           std::to_string(answer.size() >= 2 ? answer[1] : 0) +
           (answer.size() >= 2 && answer[1] == 6
                ? " (a write's echo, the late answer to an earlier request?)"
                : "");
  }

  // The verdict of a query's exchanges, with a done query whose answer is none turned
  // into a refusal.
  static Verdict JudgeQuery(const std::vector<ExchangeRecord>& ex, Verdict v) {
    if (!v.Done() || ex.empty()) return v;
    const std::string why = NotAQueryAnswer(ex.back());
    if (why.empty()) return v;
    Err(why);
    return Verdict::Refused(kNotAQueryAnswer);
  }
  static constexpr const char* kNotAQueryAnswer = "wrong-function";

  std::string FailureText(const ExchangeRecord& r, ExchangeOutcome outcome) {
    const std::string where = Where(r);
    const auto answer = ValidAnswer(r);
    switch (outcome) {
      case ExchangeOutcome::kNone:
        if (!answer.empty())
          return "the answer from " + where + " has function code " +
                 std::to_string(answer.size() > 1 ? answer[1] : 0) +
                 ", which the window does not take";
        [[fallthrough]];
      case ExchangeOutcome::kTimeOut:
        return "no answer from " + where + " (TIME OUT)";
      case ExchangeOutcome::kPortError:
        return PortFailureText(r);
      case ExchangeOutcome::kWrongAddress:
        return "address " + (answer.empty() ? std::string("?") : std::to_string(answer[0])) +
               " answered the request to " + where +
               ": not taken as the addressed device's answer (another detector answering "
               "late, a second master on the line, or a faulty unit)";
      case ExchangeOutcome::kCrcError:
        return "the answer from " + where + " failed its CRC check (CRC ERROR)";
      case ExchangeOutcome::kException:
        return "the device at " + where + " refused the request" +
               (answer.size() >= 3 ? " with exception code " + std::to_string(answer[2]) : "");
      case ExchangeOutcome::kWrongId:
        return "the device at " + where + " is not an ORNAT(-2)-Zev" +
               (answer.size() >= 5
                    ? " (identity 0x" + ByteToHex(answer[3]) + ByteToHex(answer[4]) + ")"
                    : "");
      case ExchangeOutcome::kWrongLength:
        return "the answer from " + where + " has an unexpected length";
      case ExchangeOutcome::kResetError:
        return "the interface reset is not confirmed: its first step was not acknowledged";
      case ExchangeOutcome::kSeveralDevices:
        return SeveralDevicesText(SeveralAnswerers(r.AllBytes()).value_or(0));
      case ExchangeOutcome::kOk:
        break;
    }
    return "";
  }

 private:
  const Options& o_;
  std::unique_ptr<ExchangeJournal> journal_;
  // Let go after the window, which closes the port as it goes.
  LineLock line_;
  std::unique_ptr<HeadlessWindow> win_;
};

// The document of a command that ran exchanges: head, outcome, exit, exchanges; the
// caller adds its own members before EndObject. The outcome and the exit status are
// the command's verdict, as the journal leaves it: they agree.
void ExchangesDoc(Session& s, JsonWriter& j, const std::vector<ExchangeRecord>& ex,
                  const Verdict& verdict) {
  const Verdict v = s.Exit(verdict);
  s.Head(j);
  j.Key("outcome").String(v.outcome);
  j.Key("exit").Int(v.exit);
  j.Key("exchanges").BeginArray();
  for (const auto& r : ex) WriteExchange(j, r);
  j.EndArray();
}

// --- the commands ----------------------------------------------------------------------

int Ports(Session& s) {
  std::vector<std::string> names;
  for (const auto& item : s.w().PortItems) names.push_back(item->Caption());
  if (s.o().json) {
    JsonWriter j;
    j.BeginObject();
    j.Key("command").String("ports");
    j.Key("ports").Strings(names);
    j.Key("selected").String(s.Port());
    j.EndObject();
    Out(j.Text() + "\n");
  } else {
    std::string text;
    for (const auto& n : names) text += n + "\n";
    Out(text);
  }
  if (!names.empty()) return kExitDone;
  Err("no serial port found");
  return kExitNoAnswer;
}

int Query(Session& s) {
  TForm1& w = s.w();
  std::vector<ExchangeRecord> ex;
  Verdict v = s.Exchange([&] { w.TeButton5.Click(); }, ex);
  v = Session::JudgeQuery(ex, v);
  std::optional<ShownParameters> shown;
  if (v.Done()) shown = ReadShownParameters(w);
  if (s.o().json) {
    JsonWriter j;
    ExchangesDoc(s, j, ex, v);
    j.Key("detector");
    if (shown)
      WriteDetector(j, *shown);
    else
      j.Null();
    j.EndObject();
    Out(j.Text() + "\n");
  } else if (shown) {
    Out("port      " + s.Port() + "\nspeed     " + Speed(w.State.BaudIndex) + "\naddress   " +
        std::to_string(w.State.DeviceAddress) + "\n" + DetectorText(*shown));
  }
  return v.exit;
}

// watch's queries by how they ended, as query judges each one: its summary and status.
struct WatchTally {
  int queries = 0;
  int answered = 0;
  int time_outs = 0;  // no answer, or none that the window takes
  int wrong = 0;      // answered badly: refused, garbled, another device, not a detector
  Verdict last = Verdict::NoAnswer();

  void Count(const Verdict& v) {
    ++queries;
    if (v.exit == kExitDone) ++answered;
    if (v.exit == kExitNoAnswer) ++time_outs;
    if (v.exit == kExitRefused) ++wrong;
    last = v;
  }
  std::string Text(double seconds) const {
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", seconds);
    return std::to_string(queries) + (queries == 1 ? " query: " : " queries: ") +
           std::to_string(answered) + " answered, " + std::to_string(time_outs) + " time-out(s), " +
           std::to_string(wrong) + " wrong answer(s) in " + took +
           " s; the last: " + (queries == 0 ? std::string("none") : last.outcome);
  }
};

int Watch(Session& s) {
  TForm1& w = s.w();
  const Options& o = s.o();
  WatchTally tally;
  std::optional<ExchangeRecord> port_failure;
  std::optional<ShownParameters> previous;
  // Each exchange is printed as it ends; none is kept, so a watch of days holds no more
  // than one of minutes.
  s.win().KeepExchanges(false);
  s.win().OnExchange([&](const ExchangeRecord& r) {
    const ExchangeOutcome outcome = r.outcome;
    if (outcome == ExchangeOutcome::kPortError) port_failure = r;
    std::optional<ShownParameters> p;
    const std::string not_an_answer =
        outcome == ExchangeOutcome::kOk ? Session::NotAQueryAnswer(r) : "";
    if (outcome == ExchangeOutcome::kOk && not_an_answer.empty()) p = ReadShownParameters(w);
    // Each line's verdict is the one query would give that exchange.
    const Verdict v =
        not_an_answer.empty() ? Verdict::Of(outcome) : Verdict::Refused(Session::kNotAQueryAnswer);
    // Bytes that came with no query in flight are shown, not counted.
    if (r.end != ExchangeRecord::End::kIdle && outcome != ExchangeOutcome::kPortError)
      tally.Count(v);
    std::vector<std::string> changed;
    if (p && previous) {
      if (p->state != previous->state) changed.push_back("state");
      if (p->tactic_code != previous->tactic_code) changed.push_back("tactic");
      if (p->latching != previous->latching) changed.push_back("latching");
      if (p->test != previous->test) changed.push_back("test");
      if (p->type != previous->type) changed.push_back("type");
    }
    const std::string time = IsoLocalTime(std::chrono::system_clock::now());
    if (o.json) {
      JsonWriter j;
      j.BeginObject();
      j.Key("time").String(time);
      j.Key("address").Int(r.request.empty() ? 0 : r.request[0]);
      j.Key("outcome").String(v.outcome);
      j.Key("detector");
      if (p)
        WriteDetector(j, *p);
      else
        j.Null();
      j.Key("changed").Strings(changed);
      j.Key("exchange");
      WriteExchange(j, r);
      j.EndObject();
      Out(j.Text() + "\n");
    } else {
      if (o.verbose) Session::PrintLog(r);
      std::string line = changed.empty() ? "  " : "* ";
      line += time + "  ";
      if (p) {
        line += p->state + "  tactic " + TacticText(*p) + "  latching " +
                (p->latching ? "on" : "off") + "  test " + (p->test ? "on" : "off");
        if (!changed.empty()) {
          line += "  [changed:";
          for (const auto& c : changed) line += " " + c;
          line += "]";
        }
      } else {
        line += not_an_answer.empty() ? s.FailureText(r, outcome) : not_an_answer;
      }
      Out(line + "\n");
    }
    if (p) previous = p;
  });
  const auto started = Clock::now();
  // "В ЦИКЛЕ" checked, then "ЗАПРОС ПАРАМЕТРОВ": the window's cyclic query.
  s.win().Do([&] {
    w.TeCheckBox1.Click();
    w.TeButton5.Click();
  });
  // Output that can no longer be written (a closed pipe, a full disk) stops it as
  // Ctrl-C does: nobody sees its lines.
  s.win().RunUntil(
      [&] {
        return g_interrupted != 0 || OutputError() != 0 ||
               (o.count > 0 && tally.queries >= o.count) || !w.Working();
      },
      kForever);
  const bool counted = o.count > 0 && tally.queries >= o.count;
  // "СТОП": a query in flight is still shown; nothing follows it.
  s.win().Do([&] {
    if (w.TeButton5.Caption() == kStopCaption) w.TeButton5.Click();
  });
  s.win().RunUntil([&] { return !w.Working(); }, kCommandLimit);
  if (port_failure) Err(PortFailureText(*port_failure) + "; the cyclic query stopped");
  const std::string how = port_failure         ? "stopped by a port error"
                          : counted            ? "done"
                          : g_interrupted != 0 ? "stopped by Ctrl-C"
                          : OutputError() != 0 ? "stopped: its output cannot be written"
                                               : "stopped";
  std::fprintf(stderr, "watch %s: %s\n", how.c_str(),
               tally.Text(Seconds(Clock::now() - started)).c_str());
  // As query would end on the last query: 0 only when it was answered well.
  return port_failure ? kExitPort : tally.last.exit;
}

int SetTactic(Session& s) {
  TForm1& w = s.w();
  const TacticChoice* choice = nullptr;
  for (const TacticChoice& c : TacticChoices())
    if (c.code == s.o().tactic_code) choice = &c;
  std::vector<ExchangeRecord> ex;
  // A click on the tactic's radio button: its handler writes register 4.
  Verdict v = s.Exchange([&] { (w.*choice->button).Click(); }, ex);
  v = s.JudgeWrites(ex, v, s.QueryCommand(w.State.DeviceAddress, w.State.BaudIndex));
  const std::string label = (w.*choice->label).Caption();
  if (s.o().json) {
    JsonWriter j;
    ExchangesDoc(s, j, ex, v);
    j.Key("tactic").BeginObject();
    j.Key("code").Int(choice->code);
    j.Key("name").String(choice->name);
    j.Key("label").String(label);
    j.EndObject();
    j.EndObject();
    Out(j.Text() + "\n");
  } else if (v.Done()) {
    Out("tactic " + std::to_string(choice->code) + " " + choice->name + " (" + label +
        ") written to address " + std::to_string(w.State.DeviceAddress) + ": acknowledged\n");
  }
  return v.exit;
}

int SetTest(Session& s) {
  TForm1& w = s.w();
  const bool on = s.o().test_on;
  // The check box shows the detector's test mode only after a query, and only a change
  // of it writes: read first, then click it if it is not as asked.
  std::vector<ExchangeRecord> ex;
  Verdict v = s.Exchange([&] { w.TeButton5.Click(); }, ex);
  v = Session::JudgeQuery(ex, v);
  bool written = false;
  if (v.Done() && w.TST_Button.Checked() != on) {
    std::vector<ExchangeRecord> write;
    v = s.Exchange([&] { w.TST_Button.Click(); }, write);
    v = s.JudgeWrites(write, v, s.QueryCommand(w.State.DeviceAddress, w.State.BaudIndex));
    ex.insert(ex.end(), write.begin(), write.end());
    written = true;
  }
  const std::string address = std::to_string(w.State.DeviceAddress);
  if (s.o().json) {
    JsonWriter j;
    ExchangesDoc(s, j, ex, v);
    j.Key("test").Bool(on);
    j.Key("written").Bool(written);
    j.EndObject();
    Out(j.Text() + "\n");
  } else if (v.Done()) {
    Out(written ? std::string("test mode ") + (on ? "on" : "off") + " written to address " +
                      address + ": acknowledged\n"
                : std::string("test mode is ") + (on ? "on" : "off") + " at address " + address +
                      " already: nothing written\n");
  }
  return v.exit;
}

int ResetAlarm(Session& s) {
  TForm1& w = s.w();
  std::vector<ExchangeRecord> ex;
  Verdict v = s.Exchange([&] { w.TeButton3.Click(); }, ex);
  v = s.JudgeWrites(ex, v, s.QueryCommand(w.State.DeviceAddress, w.State.BaudIndex));
  if (s.o().json) {
    JsonWriter j;
    ExchangesDoc(s, j, ex, v);
    j.EndObject();
    Out(j.Text() + "\n");
  } else if (v.Done()) {
    Out("alarm reset sent to address " + std::to_string(w.State.DeviceAddress) +
        ": acknowledged\n");
  }
  return v.exit;
}

// What answered the look at an address, told from its bytes.
std::string AnswererText(const ExchangeRecord& r) {
  const auto answer = ValidAnswer(r);
  if (answer.empty()) return "a device whose bytes form no answer (" + HexText(r.AllBytes()) + ")";
  const std::string at = "at address " + std::to_string(answer[0]);
  if ((answer[1] & 0x80) != 0)
    return "a device " + at + " that refused the query with exception code " +
           std::to_string(answer.size() > 2 ? answer[2] : 0);
  if (answer[1] == 3 && answer.size() >= 7 && answer[2] >= 2) {
    const auto id = static_cast<std::uint16_t>(answer[3] * 256 + answer[4]);
    if (id == kDetectorIdentity) return "an ORNAT(-2)-Zev detector " + at;
    return "a device " + at + " of identity 0x" + ByteToHex(answer[3]) + ByteToHex(answer[4]) +
           " (not an ORNAT(-2)-Zev)";
  }
  return "a device " + at + " (answer " + HexText(answer) + ")";
}

int SetAddress(Session& s) {
  TForm1& w = s.w();
  const std::uint8_t wanted = s.o().new_address;
  const std::uint8_t before = w.State.DeviceAddress;
  const std::uint8_t baud = w.State.BaudIndex;
  std::vector<ExchangeRecord> ex;
  // Two devices on one address answer each other's requests at once and garble both:
  // the new address is looked at first, with the window's parameter query there (a
  // read). Anything that answers (a detector, another device, an exception, garbled
  // bytes) means taken; silence means free. The current address is the detector's own.
  std::string occupied;
  Verdict v;
  if (wanted != before && !s.o().force) {
    s.win().TypeAddress(wanted);
    ex = s.win().Perform([&] { w.TeButton5.Click(); }, kCommandLimit);
    s.win().TypeAddress(before);
    if (ex.empty() || w.Working()) {
      Err("the look at address " + std::to_string(wanted) + " did not end; nothing written");
      v = Verdict::NoAnswer();
    } else if (ex.back().outcome == ExchangeOutcome::kPortError) {
      Err(s.FailureText(ex.back(), ExchangeOutcome::kPortError));
      v = Verdict::Of(ExchangeOutcome::kPortError);
    } else if (!ex.back().AllBytes().empty()) {
      occupied = AnswererText(ex.back());
      Err("address " + std::to_string(wanted) + " is taken: " + occupied +
          " answered the query there; nothing written. Choose a free address, or give "
          "--force to move the detector there all the same");
      v = Verdict::Refused("address-taken");
    }
  }
  const bool written = v.Done();
  if (written) {
    s.win().Do([&] { w.TeSpinEdit2.SetText(std::to_string(wanted)); });
    std::vector<ExchangeRecord> write;
    v = s.Exchange([&] { w.TeButton1.Click(); }, write);
    v = s.JudgeWrites(write, v,
                      s.QueryCommand(wanted, baud) + " (the new address), or " +
                          s.QueryCommand(before, baud) + " (the old one)");
    ex.insert(ex.end(), write.begin(), write.end());
  }
  // The window follows the address the detector echoes.
  const std::uint8_t acknowledged = w.State.DeviceAddress;
  if (v.Done() && acknowledged != wanted) {
    Err("the detector acknowledged address " + std::to_string(acknowledged) + ", not " +
        std::to_string(wanted));
    v = Verdict::Refused(kOtherValueAcknowledged);
  }
  if (s.o().json) {
    JsonWriter j;
    ExchangesDoc(s, j, ex, v);
    j.Key("previous_address").Int(before);
    j.Key("occupied_by");
    if (occupied.empty())
      j.Null();
    else
      j.String(occupied);
    j.Key("acknowledged_address");
    if (written)
      j.Int(acknowledged);
    else
      j.Null();
    j.EndObject();
    Out(j.Text() + "\n");
  } else if (v.Done()) {
    Out("address " + std::to_string(before) + " -> " + std::to_string(acknowledged) +
        ": acknowledged; use --address " + std::to_string(acknowledged) + " from now on\n");
  }
  return v.exit;
}

int SetBaud(Session& s) {
  TForm1& w = s.w();
  const std::uint8_t wanted = s.o().new_baud_index;
  const std::uint8_t pc = w.State.BaudIndex;
  const std::uint8_t address = w.State.DeviceAddress;
  std::vector<ExchangeRecord> ex;
  Verdict v = s.Exchange([&] { w.TeSComboBox1.Select(wanted); }, ex);
  v = s.JudgeWrites(ex, v,
                    s.QueryCommand(address, wanted) + " (the new speed), or " +
                        s.QueryCommand(address, pc) + " (the old one)");
  // BaudAcknowledged sets BaudIndex to the echoed speed and asks whether the PC is to
  // follow; a command line answers No, as it has no later exchange to make.
  const std::uint8_t acknowledged = w.State.BaudIndex;
  const bool asked = !s.win().dialogs().questions.empty();
  if (v.Done() && acknowledged != wanted) {
    Err("the detector acknowledged " + Speed(acknowledged) + " bit/s, not " + Speed(wanted));
    v = Verdict::Refused(kOtherValueAcknowledged);
  }
  if (s.o().json) {
    JsonWriter j;
    ExchangesDoc(s, j, ex, v);
    j.Key("acknowledged_baud").Int(std::stoi(Speed(acknowledged)));
    j.Key("pc_baud").Int(std::stoi(Speed(pc)));
    j.Key("question").Strings(s.win().dialogs().questions);
    j.EndObject();
    Out(j.Text() + "\n");
  } else if (v.Done()) {
    if (asked)
      Out("line speed " + Speed(acknowledged) + " bit/s: acknowledged; the detector answers at " +
          Speed(acknowledged) + " bit/s from now on: use --baud " + Speed(acknowledged) + "\n");
    else
      Out("line speed " + Speed(acknowledged) +
          " bit/s: acknowledged; the PC runs at it already\n");
  }
  return v.exit;
}

int ResetInterface(Session& s) {
  TForm1& w = s.w();
  std::vector<ExchangeRecord> ex;
  Verdict v = s.Exchange([&] { w.TeButton2.Click(); }, ex);
  v = s.JudgeWrites(ex, v, s.QueryCommand(247, 3));
  if (s.o().json) {
    JsonWriter j;
    ExchangesDoc(s, j, ex, v);
    j.Key("question").Strings(s.win().dialogs().questions);
    j.EndObject();
    Out(j.Text() + "\n");
  } else if (v.Done()) {
    Out("interface reset: acknowledged; the detector answers at address 247, 9600 bit/s: use "
        "--address 247 --baud 9600\n");
  }
  return v.exit;
}

// The three service reads of the hidden buttons "F0", "F2" and "F3".
struct ServiceBlock {
  const char* name;
  std::uint16_t first;
  std::uint16_t count;
  TButton TForm1::*button;
};
constexpr ServiceBlock kServiceBlocks[] = {
    {"F0", kServiceBlockF0, kServiceCountF0, &TForm1::Button1},
    {"F2", kServiceBlockF2, kServiceCountF2, &TForm1::Button2},
    {"F3", kServiceBlockF3, kServiceCountF3, &TForm1::Button3},
};

int Service(Session& s) {
  TForm1& w = s.w();
  const ServiceBlock& block = kServiceBlocks[s.o().service_block];
  std::vector<ExchangeRecord> ex;
  Verdict v = s.Exchange([&] { (w.*block.button).Click(); }, ex);
  // The window shows the bytes and "ОК." and reads nothing in them; the registers are
  // printed only from an answer that holds the whole block.
  std::vector<std::uint8_t> answer;
  if (v.Done()) {
    answer = ValidAnswer(ex.back());
    if (answer.size() < 5 || answer[1] != 3 || answer[2] != 2 * block.count ||
        answer.size() < 5u + 2 * block.count) {
      Err("the answer from address " + std::to_string(w.State.DeviceAddress) + " holds " +
          std::to_string(answer.size() >= 3 ? answer[2] / 2 : 0) + " register(s), not the " +
          std::to_string(block.count) + " of block " + block.name + ": " + HexText(answer));
      v = Verdict::Refused(OutcomeName(ExchangeOutcome::kWrongLength));
      answer.clear();
    }
  }
  auto reg_hex = [&](std::uint16_t k) {
    return ByteToHex(answer[3 + 2 * k]) + " " + ByteToHex(answer[4 + 2 * k]);
  };
  auto reg_name = [&](std::uint16_t k) {
    const auto reg = static_cast<std::uint16_t>(block.first + k);
    return ByteToHex(static_cast<std::uint8_t>(reg >> 8)) +
           ByteToHex(static_cast<std::uint8_t>(reg));
  };
  if (s.o().json) {
    JsonWriter j;
    ExchangesDoc(s, j, ex, v);
    j.Key("block").String(block.name);
    j.Key("registers");
    if (answer.empty()) {
      j.Null();
    } else {
      j.BeginArray();
      for (std::uint16_t k = 0; k < block.count; ++k) {
        j.BeginObject();
        j.Key("register").String("0x" + reg_name(k));
        j.Key("value").Int(answer[3 + 2 * k] * 256 + answer[4 + 2 * k]);
        j.Key("bytes").String(reg_hex(k));
        j.EndObject();
      }
      j.EndArray();
    }
    j.EndObject();
    Out(j.Text() + "\n");
  } else if (!answer.empty()) {
    std::string text;
    for (std::uint16_t k = 0; k < block.count; ++k) text += reg_name(k) + "  " + reg_hex(k) + "\n";
    Out(text);
  }
  return v.exit;
}

int Search(Session& s) {
  TForm1& w = s.w();
  const std::uint16_t delay = s.o().delay_ms != 0 ? s.o().delay_ms : w.State.SearchDelayMs;
  if (s.o().delay_ms != 0) s.win().Do([&] { DelayMenuItem(w, delay)->Click(); });
  const std::size_t before = s.win().Exchanges().size();
  ProgressLine progress;
  const auto started = Clock::now();
  s.win().Do([&] { w.CustomItem5.Click(); });  // "Start"
  bool stopped = false;
  s.win().RunUntil(
      [&] {
        if (g_interrupted != 0 && !stopped && w.State.SessionMode == kSessionSearch) {
          stopped = true;
          w.CustomItem5.Click();  // "Stop" (not inside a handler: the loop is between items)
        }
        const int at = w.TeProgressBar1.Position();
        progress.Show("search: " + ProbedText(at, "/247") + " at " + Speed(w.State.BaudIndex) +
                      " bit/s, " + std::to_string(delay) + " ms windows, about " +
                      Duration((247 - at) * (delay + 5) / 1000.0) + " left");
        return !w.Working();
      },
      kForever);
  progress.Clear();
  const double took = Seconds(Clock::now() - started);
  const std::vector<ExchangeRecord> ex(s.win().Exchanges().begin() + static_cast<long>(before),
                                       s.win().Exchanges().end());
  bool port_failed = false;
  for (const auto& r : ex)
    if (r.end == ExchangeRecord::End::kSendFailed) port_failed = true;
  const auto& log = w.TeMemo1.Lines();
  bool found = false;
  for (const auto& line : log)
    if (line.rfind(msg::kDeviceFound, 0) == 0) found = true;
  // Two answers from one address in a probe's window (the window takes the last), or one
  // and a garbled one: more than one device answers there.
  std::optional<std::uint8_t> several;
  for (const auto& r : ex)
    if (!several) several = SeveralAnswerers(r.AllBytes());
  // Bytes that formed no answer in a probe's window: without a hit, "nothing found" would
  // hide that something answers there garbled (two devices at one address colliding, a
  // unit at another speed, noise).
  // An answer to a probe is handed over after the probe's window, between two probes
  // or in the next one's: the bytes are told with the probe they came after.
  std::vector<int> garbled;
  int probed_last = 0;
  for (const auto& r : ex) {
    if (OperationName(r) == "probe") probed_last = r.request[0];
    const std::vector<std::uint8_t> bytes = r.AllBytes();
    if (probed_last != 0 && !bytes.empty() && FindAnswers(bytes).empty() &&
        (garbled.empty() || garbled.back() != probed_last))
      garbled.push_back(probed_last);
  }
  int code = found ? kExitDone : garbled.empty() ? kExitNoAnswer : kExitRefused;
  if (several) code = kExitSeveralDevices;
  if (port_failed) {
    // A failed probe send halts the search; the window's "Stop" ends it.
    if (w.State.SessionMode == kSessionSearch) s.win().Do([&] { w.CustomItem5.Click(); });
    code = kExitPort;
    Err(s.FailureText(ex.back(), ExchangeOutcome::kPortError));
  }
  const std::uint8_t address = w.State.DeviceAddress;
  if (s.o().json) {
    JsonWriter j;
    s.Head(j);
    j.Key("found").Bool(found);
    j.Key("found_address");
    if (found)
      j.Int(address);
    else
      j.Null();
    j.Key("several_devices").Bool(several.has_value());
    j.Key("garbled_at").BeginArray();
    for (int a : garbled) j.Int(a);
    j.EndArray();
    j.Key("delay_ms").Int(delay);
    j.Key("probes").Int(
        static_cast<long long>(std::count_if(ex.begin(), ex.end(), [](const ExchangeRecord& r) {
          return OperationName(r) == "probe";
        })));
    j.Key("interrupted").Bool(stopped);
    j.Key("duration_s").Fixed(took, 3);
    j.Key("exit").Int(s.Exit(code));
    j.Key("log").Strings(log);
    j.EndObject();
    Out(j.Text() + "\n");
  } else if (found) {
    Out("found a detector at address " + std::to_string(address) + " (" + Speed(w.State.BaudIndex) +
        " bit/s)\n");
  }
  if (several) Err(SeveralDevicesText(*several));
  if (!found && !port_failed)
    Err(stopped ? "search stopped at address " + std::to_string(address) + ": nothing found"
                : "no detector found at " + Speed(w.State.BaudIndex) + " bit/s");
  if (!found && !garbled.empty()) {
    std::string at;
    for (std::size_t i = 0; i < garbled.size() && i < 8; ++i)
      at += (i > 0 ? ", " : "") + std::to_string(garbled[i]);
    if (garbled.size() > 8) at += " and " + std::to_string(garbled.size() - 8) + " more";
    Err("but bytes that form no answer came after the probe(s) to " + at +
        ": two or more devices answering at once, a unit at another speed, or noise; "
        "\"ornat-cli survey --addresses N\" probes an address again and tells which");
  }
  std::fprintf(stderr, "search took %.1f s\n", took);
  return code;
}

const char* KindName(SurveyDevice::Kind k) {
  switch (k) {
    case SurveyDevice::Kind::kDetector:
      return "detector";
    case SurveyDevice::Kind::kOtherIdentity:
      return "other-identity";
    case SurveyDevice::Kind::kException:
      return "exception";
    case SurveyDevice::Kind::kGarbled:
      return "garbled";
  }
  return "detector";
}

std::string Hex16(std::uint16_t v) {
  return "0x" + ByteToHex(static_cast<std::uint8_t>(v >> 8)) +
         ByteToHex(static_cast<std::uint8_t>(v));
}

// Why the queries of a detector failed, one reason a query: " (3 queries: ...)".
std::string QueryTroubles(const SurveyDevice& d) {
  if (d.query_troubles.empty()) return "";
  std::string text = " (";
  if (d.query_attempts > 1) text += std::to_string(d.query_attempts) + " queries: ";
  for (std::size_t i = 0; i < d.query_troubles.size(); ++i)
    text += (i > 0 ? "; " : "") + d.query_troubles[i];
  return text + ")";
}

// One device as the survey prints it: address, speed, what it is, and how its answer
// came when that was not plainly in its own window.
std::string SurveyLine(const SurveyDevice& d) {
  char head[32];
  std::snprintf(head, sizeof head, "%3d  %5s  ", d.address, Speed(d.baud_index).c_str());
  std::string text = head;
  switch (d.kind) {
    case SurveyDevice::Kind::kDetector:
      text += "detector  ";
      if (d.several_devices)
        text += "two or more devices answer at address " + std::to_string(d.address);
      else if (d.query_outcome == ExchangeOutcome::kOk)
        text += d.shown.state + "  tactic " + TacticText(d.shown) + "  latching " +
                (d.shown.latching ? "on" : "off") + "  test " + (d.shown.test ? "on" : "off");
      else if (d.queried)
        text += std::string("query: ") + OutcomeName(d.query_outcome) + QueryTroubles(d);
      else
        text += "query: not made (the survey ended first)";
      break;
    case SurveyDevice::Kind::kOtherIdentity:
      text += "identity " + Hex16(d.identity) + " (not an ORNAT(-2)-Zev)";
      break;
    case SurveyDevice::Kind::kException:
      text += "exception " + std::to_string(d.exception_code) + " (refused the probe)";
      break;
    case SurveyDevice::Kind::kGarbled:
      text +=
          "garbled   " +
          (d.several_devices
               ? "two or more devices answer at address " + std::to_string(d.address) +
                     " at once: no answer came whole in " + std::to_string(d.attempt) +
                     " probes (or one unit garbles its answers)"
               : "its answers failed their CRC check at every probe (" + std::to_string(d.attempt) +
                     "): a faulty unit, interference, or two devices answering at once");
      return text + "\n";
  }
  if (d.several_devices && d.kind != SurveyDevice::Kind::kDetector)
    text += "  [two or more devices answer at address " + std::to_string(d.address) + "]";
  if (d.late)
    text += "  [came after its probe's window]";
  else if (d.probed != d.address)
    text += "  [answered the probe to " + std::to_string(d.probed) + "]";
  if (d.TrailingByte())
    text += "  [trailing byte " + ByteToHex(d.after[0]) + "]";
  else if (!d.before.empty() || !d.after.empty())
    text += "  [amid " + std::to_string(d.before.size() + d.after.size()) + " stray byte(s)]";
  if (d.attempt > 1) text += "  [probe " + std::to_string(d.attempt) + " of its address]";
  return text + "\n";
}

std::string SurveyNoiseText(const SurveyNoise& n) {
  const std::string where =
      (n.probed == 0 ? std::string("between two probes")
                     : "after the probe to " + std::to_string(n.probed)) +
      " at " + Speed(n.baud_index) + " bit/s" +
      (n.attempt > 1 ? " (probe " + std::to_string(n.attempt) + " of that address)" : "");
  if (!n.whole_answer) return "bytes that form no answer " + where + ": " + HexText(n.bytes);
  const std::vector<std::uint8_t> answer(
      n.bytes.begin() + static_cast<long>(n.answer_at),
      n.bytes.begin() + static_cast<long>(n.answer_at + n.answer_length));
  return "a whole answer that no probe asks for, " + std::to_string(answer.size()) +
         " bytes from address " + std::to_string(answer[0]) + ", " + where + ": " +
         HexText(answer) +
         (answer.size() < n.bytes.size() ? " (all bytes read: " + HexText(n.bytes) + ")" : "");
}

int Survey(Session& s) {
  TForm1& w = s.w();
  const Options& o = s.o();
  BusSurvey survey(w, {o.speeds, o.ranges, o.delay_ms});
  ProgressLine progress;
  // Each device as soon as its line is complete; the JSON document comes at the end.
  // On a terminal the progress line gives way to it first.
  const bool out_on_terminal = OutputTerminal();
  if (!o.json) {
    survey.OnDevice([&](const SurveyDevice& d) {
      if (out_on_terminal) progress.Clear();
      Out(SurveyLine(d));
    });
  }
  s.win().observers().Add(&survey);
  const auto started = Clock::now();
  survey.Start();
  bool stop_sent = false;
  s.win().RunUntil(
      [&] {
        if (g_interrupted != 0 && !stop_sent) {
          stop_sent = true;
          survey.Stop();
        }
        const auto p = survey.CurrentProgress();
        progress.Show("survey: " + Speed(p.baud_index) + " bit/s (" +
                      std::to_string(p.speed_number) + "/" + std::to_string(p.speed_count) + "), " +
                      ProbedText(p.address) + ", " + std::to_string(survey.Devices().size()) +
                      " found, about " + Duration(p.ms_left / 1000.0) + " left");
        return survey.Done();
      },
      kForever);
  progress.Clear();
  s.win().observers().Remove(&survey);
  const double took = Seconds(Clock::now() - started);

  bool bad = false;
  std::vector<int> several;
  for (const auto& d : survey.Devices()) {
    if (d.kind != SurveyDevice::Kind::kDetector ||
        (d.queried && d.query_outcome != ExchangeOutcome::kOk))
      bad = true;
    if (d.several_devices) several.push_back(d.address);
  }
  // A port failure wins over several devices at one address, which wins over the rest.
  int code = survey.Devices().empty() ? kExitNoAnswer : bad ? kExitRefused : kExitDone;
  if (survey.Stopped()) code = kExitNoAnswer;
  if (!several.empty()) code = kExitSeveralDevices;
  if (survey.PortFailed()) code = kExitPort;
  const auto progress_now = survey.CurrentProgress();

  if (o.json) {
    JsonWriter j;
    j.BeginObject();
    j.Key("command").String("survey");
    j.Key("port").String(s.Port());
    j.Key("speeds").BeginArray();
    for (std::uint8_t b : o.speeds) j.Int(std::stoi(Speed(b)));
    j.EndArray();
    j.Key("addresses").String(AddressRunsText(o.ranges));
    j.Key("windows_ms").BeginObject();
    for (std::uint8_t b : o.speeds) j.Key(Speed(b)).Int(survey.WindowMs(b));
    j.EndObject();
    j.Key("devices").BeginArray();
    for (const auto& d : survey.Devices()) {
      j.BeginObject();
      j.Key("address").Int(d.address);
      j.Key("baud").Int(std::stoi(Speed(d.baud_index)));
      j.Key("kind").String(KindName(d.kind));
      if (d.kind == SurveyDevice::Kind::kException)
        j.Key("exception_code").Int(d.exception_code);
      else if (d.kind != SurveyDevice::Kind::kGarbled)
        j.Key("identity").String(Hex16(d.identity));
      j.Key("answer").String(HexText(d.answer));
      j.Key("probed").Int(d.probed);
      j.Key("attempt").Int(d.attempt);
      j.Key("late").Bool(d.late);
      j.Key("several_devices").Bool(d.several_devices);
      j.Key("trailing_byte").Bool(d.TrailingByte());
      j.Key("before").String(HexText(d.before));
      j.Key("after").String(HexText(d.after));
      if (d.queried) {
        j.Key("query_outcome").String(OutcomeName(d.query_outcome));
        j.Key("query_attempts").Int(d.query_attempts);
        j.Key("query_troubles").Strings(d.query_troubles);
        j.Key("detector");
        if (d.query_outcome == ExchangeOutcome::kOk)
          WriteDetector(j, d.shown);
        else
          j.Null();
        j.Key("query_log").Strings(d.query_log);
      }
      j.EndObject();
    }
    j.EndArray();
    j.Key("noise").BeginArray();
    for (const auto& n : survey.Noise()) {
      j.BeginObject();
      j.Key("probed").Int(n.probed);
      j.Key("attempt").Int(n.attempt);
      j.Key("baud").Int(std::stoi(Speed(n.baud_index)));
      j.Key("bytes").String(HexText(n.bytes));
      j.Key("whole_answer").Bool(n.whole_answer);
      if (n.whole_answer)
        j.Key("answer").String(HexText(std::vector<std::uint8_t>(
            n.bytes.begin() + static_cast<long>(n.answer_at),
            n.bytes.begin() + static_cast<long>(n.answer_at + n.answer_length))));
      j.EndObject();
    }
    j.EndArray();
    j.Key("late_answers").Int(survey.LateAnswers());
    j.Key("probes").Int(survey.Probes());
    j.Key("probes_again").Int(survey.Reprobes());
    j.Key("interrupted").Bool(survey.Stopped());
    j.Key("port_failed").Bool(survey.PortFailed());
    j.Key("duration_s").Fixed(took, 3);
    j.Key("nominal_s").Fixed(survey.NominalMs() / 1000.0, 3);
    j.Key("exit").Int(s.Exit(code));
    j.EndObject();
    Out(j.Text() + "\n");
  }
  if (survey.PortFailed()) {
    // Why, in the command line's words, from the exchange whose send failed.
    const auto& all = s.win().Exchanges();
    const auto failed = std::find_if(all.rbegin(), all.rend(), [](const ExchangeRecord& r) {
      return r.end == ExchangeRecord::End::kSendFailed;
    });
    Err((failed != all.rend() ? PortFailureText(*failed)
                              : "the port \"" + s.Port() + "\" cannot be opened") +
        "; the survey stopped");
  }
  for (int address : several) Err(SeveralDevicesText(address));
  if (survey.LateAnswers() > 0)
    Err(std::to_string(survey.LateAnswers()) +
        " answer(s) came after their probe's window: a device answers slowly; repeat with a "
        "longer --delay");
  // Noise is told in one line; each window's bytes with -v, and in the journal.
  if (!survey.Noise().empty()) {
    if (o.verbose)
      for (const auto& n : survey.Noise()) Err(SurveyNoiseText(n));
    else
      Err(std::to_string(survey.Noise().size()) +
          " window(s) held bytes that are no device's answer (noise, a garbled answer, or an "
          "answer no probe asks for); -v shows each, --journal keeps every byte");
  }
  const int probes = survey.Probes();
  const std::string again =
      survey.Reprobes() > 0 ? " (" + std::to_string(survey.Reprobes()) + " made again)" : "";
  if (survey.Stopped()) {
    if (survey.Devices().empty()) Err("nothing found before the stop");
    std::fprintf(stderr,
                 "survey stopped by Ctrl-C at address %d, %s bit/s: %zu device(s), %d probes%s in "
                 "%.1f s\n",
                 progress_now.address, Speed(progress_now.baud_index).c_str(),
                 survey.Devices().size(), probes, again.c_str(), took);
  } else {
    if (survey.Devices().empty() && !survey.PortFailed()) Err("no device answered");
    std::fprintf(stderr, "survey done: %zu device(s), %d probes%s in %.1f s (nominal %.1f s)\n",
                 survey.Devices().size(), probes, again.c_str(), took, survey.NominalMs() / 1000.0);
  }
  return code;
}

int RunIn(Session& s, Command command) {
  switch (command) {
    case Command::kPorts:
      return Ports(s);
    case Command::kQuery:
      return Query(s);
    case Command::kWatch:
      return Watch(s);
    case Command::kSetTactic:
      return SetTactic(s);
    case Command::kSetTest:
      return SetTest(s);
    case Command::kResetAlarm:
      return ResetAlarm(s);
    case Command::kSetAddress:
      return SetAddress(s);
    case Command::kSetBaud:
      return SetBaud(s);
    case Command::kResetInterface:
      return ResetInterface(s);
    case Command::kService:
      return Service(s);
    case Command::kSearch:
      return Search(s);
    case Command::kSurvey:
      return Survey(s);
    case Command::kHelp:
    case Command::kVersion:
      break;
  }
  return kExitUsage;
}

}  // namespace

int RunCommand(const Options& o) {
  Session s(o);
  int code = s.Open();
  if (code < 0) code = RunIn(s, o.command);
  s.ReportJournal();
  return FinishOutput(s.Exit(code));
}

}  // namespace ornat::cli
