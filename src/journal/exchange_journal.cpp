#include "journal/exchange_journal.h"

#include <cstdio>
#include <ctime>

#include "journal/journal_file.h"
#include "journal/json.h"
#include "modbus/exchange_outcome.h"
#include "ui/exchange_log.h"

namespace ornat {

namespace {

const char* EndName(ExchangeRecord::End end) {
  switch (end) {
    case ExchangeRecord::End::kCompleted:
      return "completed";
    case ExchangeRecord::End::kSendFailed:
      return "send-failed";
    case ExchangeRecord::End::kIdle:
      return "idle";
    case ExchangeRecord::End::kSuperseded:
      return "superseded";
  }
  return "completed";
}

}  // namespace

std::string HexText(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ' ';
    out += ByteToHex(bytes[i]);
  }
  return out;
}

std::string IsoLocalTime(std::chrono::system_clock::time_point t) {
  using namespace std::chrono;
  const auto since = t.time_since_epoch();
  auto secs = duration_cast<seconds>(since);
  auto ms = duration_cast<milliseconds>(since - secs).count();
  if (ms < 0) {  // before 1970: keep the milliseconds positive
    ms += 1000;
    secs -= seconds(1);
  }
  const std::time_t tt = static_cast<std::time_t>(secs.count());
  std::tm tm{};
  long offset_seconds = 0;
  LocalTimeOf(tt, tm, offset_seconds);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
  // Offsets from UTC lie within a day (-12:00 to +14:00 in use).
  const long offset_min = offset_seconds / 60;
  const int abs_min = static_cast<int>((offset_min < 0 ? -offset_min : offset_min) % (24 * 60));
  char tail[32];
  std::snprintf(tail, sizeof tail, ".%03d%c%02d:%02d", static_cast<int>(ms),
                offset_min < 0 ? '-' : '+', abs_min / 60, abs_min % 60);
  return std::string(date) + tail;
}

ExchangeJournal::ExchangeJournal(const std::string& path, std::string program, WallClock clock)
    : path_(path),
      program_(std::move(program)),
      clock_(std::move(clock)),
      file_(std::make_unique<JournalFile>(path)) {
  if (!file_->IsOpen())
    throw JournalError("cannot open the journal \"" + path + "\": " + file_->OpenError());
}

ExchangeJournal::~ExchangeJournal() = default;

std::string ExchangeJournal::Line(const ExchangeRecord& record, const std::string& program,
                                  std::chrono::system_clock::time_point when) {
  JsonWriter j;
  j.BeginObject();
  j.Key("time").String(IsoLocalTime(when));
  j.Key("program").String(program);
  j.Key("port").String(record.port);
  j.Key("baud").Int(record.bit_rate);
  if (record.request.empty())
    j.Key("address").Null();
  else
    j.Key("address").Int(record.request[0]);
  j.Key("operation").String(OperationName(record));
  j.Key("end").String(EndName(record.end));
  // What the engine noted as it wrote the log's message lines, as ornat-cli names it
  // ("ok", "wrong-address"...), or "several-devices" when its bytes hold two devices'
  // answers at one address.
  j.Key("outcome").String(OutcomeName(record.outcome));
  j.Key("request").String(HexText(record.request));
  j.Key("answer").String(HexText(record.AllBytes()));
  j.Key("reads").Int(static_cast<long long>(record.reads.size()));
  j.Key("log").Strings(record.log);
  if (!record.failure.empty()) j.Key("failure").String(record.failure);
  if (record.gateway_code != 0) j.Key("gateway_exception").Int(record.gateway_code);
  if (!record.tcp_request.empty()) {
    j.Key("tcp_request").String(HexText(record.tcp_request));
    j.Key("tcp_answer").String(HexText(record.tcp_answer));
  }
  const double ms =
      std::chrono::duration<double, std::milli>(record.ended - record.started).count();
  j.Key("ms").Fixed(ms, 1);
  j.EndObject();
  return j.Text();
}

void ExchangeJournal::ExchangeEnded(const ExchangeRecord& record) {
  // After a line that was cut short the file ends inside it: this line starts on a new
  // one rather than run on from the fragment.
  std::string line;
  if (cut_short_) line = "\n";
  line += Line(record, program_, clock_());
  line += '\n';
  // One write per line: the system has the whole line as soon as it returns. A short
  // write (a full disk) is continued.
  std::string why;
  const std::size_t done = file_->Append(line.data(), line.size(), why);
  if (done < line.size()) {
    ++lines_lost_;
    if (done > 0) cut_short_ = line[done - 1] != '\n';
    const std::string message = "cannot write to the journal \"" + path_ + "\": " + why;
    if (error_.empty()) {
      error_ = message;
      if (on_error_) on_error_(message);
    }
    return;
  }
  cut_short_ = false;
}

}  // namespace ornat
