#include "cli/render_json.h"

#include "cli/cli_options.h"
#include "cli/messages.h"
#include "cli/port_failure.h"
#include "journal/exchange_journal.h"
#include "journal/json.h"
#include "ui/exchange_log.h"

namespace ornat::cli {

namespace {

int Bits(std::uint8_t baud_index) {
  return std::stoi(Speed(baud_index));
}

void WriteDetector(JsonWriter& json, const ShownParameters& shown) {
  json.BeginObject();
  json.Key("type").String(shown.type);
  json.Key("state").String(shown.state);
  json.Key("tactic");
  if (shown.tactic_code) {
    json.BeginObject();
    json.Key("code").Int(*shown.tactic_code);
    json.Key("name").String(shown.tactic_name);
    json.Key("label").String(shown.tactic_label);
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("latching").Bool(shown.latching);
  json.Key("test").Bool(shown.test);
  json.EndObject();
}

void WriteDetectorOrNull(JsonWriter& json, const std::optional<ShownParameters>& shown) {
  if (shown)
    WriteDetector(json, *shown);
  else
    json.Null();
}

void WriteExchange(JsonWriter& json, const ExchangeRecord& record) {
  json.BeginObject();
  json.Key("operation").String(OperationName(record));
  json.Key("request").String(HexText(record.request));
  json.Key("answer").String(HexText(record.AllBytes()));
  json.Key("outcome").String(OutcomeName(record.outcome));
  json.Key("log").Strings(record.log);
  if (!record.failure.empty())
    json.Key("failure").String(
        record.PortFailed() && kJsonFailureInOwnWords ? PortFailureText(record) : record.failure);
  json.EndObject();
}

// Opens the document with its head: command, port, PC speed, address.
void WriteHead(JsonWriter& json, const DocumentHead& head) {
  json.BeginObject();
  json.Key("command").String(head.command);
  json.Key("port").String(head.port);
  json.Key("baud").Int(head.baud);
  json.Key("address").Int(head.address);
}

// Opens the document of a command that ran exchanges; the caller adds its own members
// and closes it.
void WriteExchanges(JsonWriter& json, const ExchangesResult& result) {
  WriteHead(json, result.head);
  json.Key("outcome").String(result.reported.outcome);
  json.Key("exit").Int(result.reported.exit);
  json.Key("exchanges").BeginArray();
  for (const auto& record : result.exchanges) WriteExchange(json, record);
  json.EndArray();
}

std::string Close(JsonWriter& json) {
  json.EndObject();
  return json.Text();
}

void WriteDevice(JsonWriter& json, const SurveyDevice& device) {
  json.BeginObject();
  json.Key("address").Int(device.address);
  json.Key("baud").Int(Bits(device.baud_index));
  const char* kind = "detector";
  switch (device.kind) {
    case SurveyDevice::Kind::kDetector:
      break;
    case SurveyDevice::Kind::kOtherIdentity:
      kind = "other-identity";
      break;
    case SurveyDevice::Kind::kException:
      kind = "exception";
      break;
    case SurveyDevice::Kind::kGarbled:
      kind = "garbled";
      break;
  }
  json.Key("kind").String(kind);
  if (device.kind == SurveyDevice::Kind::kException)
    json.Key("exception_code").Int(device.exception_code);
  else if (device.kind != SurveyDevice::Kind::kGarbled)
    json.Key("identity")
        .String("0x" + ByteToHex(static_cast<std::uint8_t>(device.identity >> 8)) +
                ByteToHex(static_cast<std::uint8_t>(device.identity)));
  json.Key("answer").String(HexText(device.answer));
  json.Key("probed").Int(device.probed);
  json.Key("attempt").Int(device.attempt);
  json.Key("late").Bool(device.late);
  json.Key("several_devices").Bool(device.several_devices);
  json.Key("trailing_byte").Bool(device.TrailingByte());
  json.Key("before").String(HexText(device.before));
  json.Key("after").String(HexText(device.after));
  if (device.queried) {
    json.Key("query_outcome").String(OutcomeName(device.query_outcome));
    json.Key("query_attempts").Int(device.query_attempts);
    json.Key("query_troubles").Strings(device.query_troubles);
    json.Key("detector");
    if (device.query_outcome == ExchangeOutcome::kOk)
      WriteDetector(json, device.shown);
    else
      json.Null();
    json.Key("query_log").Strings(device.query_log);
  }
  json.EndObject();
}

void WriteNoise(JsonWriter& json, const SurveyNoise& noise) {
  json.BeginObject();
  json.Key("probed").Int(noise.probed);
  json.Key("attempt").Int(noise.attempt);
  json.Key("baud").Int(Bits(noise.baud_index));
  json.Key("bytes").String(HexText(noise.bytes));
  json.Key("whole_answer").Bool(noise.whole_answer);
  if (noise.whole_answer)
    json.Key("answer").String(HexText(std::vector<std::uint8_t>(
        noise.bytes.begin() + static_cast<long>(noise.answer_at),
        noise.bytes.begin() + static_cast<long>(noise.answer_at + noise.answer_length))));
  json.EndObject();
}

}  // namespace

std::string Document(const PortsResult& result) {
  JsonWriter json;
  json.BeginObject();
  json.Key("command").String("ports");
  json.Key("ports").Strings(result.ports);
  if (!result.descriptions.empty()) json.Key("descriptions").Strings(result.descriptions);
  json.Key("lines").BeginArray();
  for (const NamedLine& line : result.lines) {
    json.BeginObject();
    json.Key("name").String(line.name);
    json.Key("target").String(line.target);
    if (line.net_delay_ms) json.Key("net_delay_ms").Int(*line.net_delay_ms);
    json.EndObject();
  }
  json.EndArray();
  json.Key("selected").String(result.selected);
  return Close(json);
}

std::string Document(const QueryResult& result) {
  JsonWriter json;
  WriteExchanges(json, result);
  json.Key("detector");
  WriteDetectorOrNull(json, result.shown);
  return Close(json);
}

std::string Document(const WatchLine& line) {
  const ExchangeRecord& record = *line.record;
  JsonWriter json;
  json.BeginObject();
  json.Key("time").String(line.time);
  json.Key("address").Int(record.request.empty() ? 0 : record.request[0]);
  json.Key("outcome").String(line.verdict.outcome);
  json.Key("detector");
  WriteDetectorOrNull(json, line.shown);
  json.Key("changed").Strings(line.changed);
  json.Key("exchange");
  WriteExchange(json, record);
  return Close(json);
}

std::string Document(const TacticResult& result) {
  JsonWriter json;
  WriteExchanges(json, result);
  json.Key("tactic").BeginObject();
  json.Key("code").Int(result.code);
  json.Key("name").String(result.name);
  json.Key("label").String(result.label);
  json.EndObject();
  return Close(json);
}

std::string Document(const TestResult& result) {
  JsonWriter json;
  WriteExchanges(json, result);
  json.Key("test").Bool(result.on);
  json.Key("written").Bool(result.written);
  return Close(json);
}

std::string Document(const ResetAlarmResult& result) {
  JsonWriter json;
  WriteExchanges(json, result);
  return Close(json);
}

std::string Document(const AddressResult& result) {
  JsonWriter json;
  WriteExchanges(json, result);
  json.Key("previous_address").Int(result.previous);
  json.Key("occupied_by");
  if (result.occupied.empty())
    json.Null();
  else
    json.String(result.occupied);
  json.Key("acknowledged_address");
  if (result.written)
    json.Int(result.acknowledged);
  else
    json.Null();
  return Close(json);
}

std::string Document(const BaudResult& result) {
  JsonWriter json;
  WriteExchanges(json, result);
  json.Key("acknowledged_baud").Int(std::stoi(result.acknowledged));
  json.Key("pc_baud").Int(std::stoi(result.pc));
  json.Key("question").Strings(result.questions);
  return Close(json);
}

std::string Document(const ResetInterfaceResult& result) {
  JsonWriter json;
  WriteExchanges(json, result);
  json.Key("question").Strings(result.questions);
  return Close(json);
}

std::string Document(const ServiceResult& result) {
  JsonWriter json;
  WriteExchanges(json, result);
  json.Key("block").String(result.block);
  json.Key("registers");
  if (result.answer.empty()) {
    json.Null();
  } else {
    json.BeginArray();
    for (std::uint16_t k = 0; k < result.count; ++k) {
      const auto reg = static_cast<std::uint16_t>(result.first + k);
      const std::uint8_t high = result.answer[3 + 2 * k];
      const std::uint8_t low = result.answer[4 + 2 * k];
      json.BeginObject();
      json.Key("register")
          .String("0x" + ByteToHex(static_cast<std::uint8_t>(reg >> 8)) +
                  ByteToHex(static_cast<std::uint8_t>(reg)));
      json.Key("value").Int(high * 256 + low);
      json.Key("bytes").String(ByteToHex(high) + " " + ByteToHex(low));
      json.EndObject();
    }
    json.EndArray();
  }
  return Close(json);
}

std::string Document(const SearchResult& result) {
  const SearchFindings& findings = result.findings;
  JsonWriter json;
  WriteHead(json, result.head);
  json.Key("found").Bool(result.found);
  json.Key("found_address");
  if (result.found)
    json.Int(result.head.address);
  else
    json.Null();
  json.Key("several_devices").Bool(findings.several.has_value());
  json.Key("garbled_at").BeginArray();
  for (int address : findings.garbled) json.Int(address);
  json.EndArray();
  json.Key("delay_ms").Int(result.delay_ms);
  json.Key("probes").Int(findings.probes);
  json.Key("interrupted").Bool(result.interrupted);
  json.Key("duration_s").Fixed(result.seconds, 3);
  json.Key("exit").Int(result.exit);
  json.Key("log").Strings(result.log);
  return Close(json);
}

std::string Document(const SurveyResult& result) {
  JsonWriter json;
  json.BeginObject();
  json.Key("command").String("survey");
  json.Key("port").String(result.port);
  json.Key("speeds").BeginArray();
  for (std::uint8_t baud_index : result.speeds) json.Int(Bits(baud_index));
  json.EndArray();
  json.Key("addresses").String(AddressRunsText(result.ranges));
  json.Key("windows_ms").BeginObject();
  for (std::size_t i = 0; i < result.speeds.size(); ++i)
    json.Key(Speed(result.speeds[i])).Int(result.windows_ms[i]);
  json.EndObject();
  json.Key("devices").BeginArray();
  for (const auto& device : result.devices) WriteDevice(json, device);
  json.EndArray();
  json.Key("noise").BeginArray();
  for (const auto& noise : result.noise) WriteNoise(json, noise);
  json.EndArray();
  json.Key("late_answers").Int(result.late_answers);
  json.Key("probes").Int(result.probes);
  json.Key("probes_again").Int(result.probes_again);
  json.Key("interrupted").Bool(result.interrupted);
  json.Key("port_failed").Bool(result.port_failed);
  json.Key("duration_s").Fixed(result.seconds, 3);
  json.Key("nominal_s").Fixed(result.nominal_seconds, 3);
  json.Key("exit").Int(result.exit);
  return Close(json);
}

std::string Document(const LineInUseResult& result) {
  JsonWriter json;
  WriteHead(json, result.head);
  json.Key("outcome").String(result.outcome);
  json.Key("exit").Int(kExitPort);
  json.Key("line_in_use").BeginObject();
  json.Key("pid").Int(result.pid);
  json.Key("runs").String(result.runs);
  json.EndObject();
  json.Key("exchanges").BeginArray();
  WriteExchange(json, result.record);
  json.EndArray();
  return Close(json);
}

}  // namespace ornat::cli
