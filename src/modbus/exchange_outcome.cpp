#include "modbus/exchange_outcome.h"

#include "modbus/answer_scan.h"
#include "modbus/exchange_observer.h"
#include "ui/exchange_log.h"

namespace ornat {

ExchangeOutcome OutcomeOf(const std::vector<std::string>& log) {
  bool ok = false, timeout = false, crc = false, exception = false, wrong_id = false,
       wrong_length = false, reset_error = false, port = false, wrong_address = false;
  const std::string port_prefix = msg::kPortOpenError;
  const std::string wrong_address_prefix = msg::kWrongAddress;
  for (const std::string& line : log) {
    if (line.rfind(port_prefix, 0) == 0)
      port = true;
    else if (line.rfind(wrong_address_prefix, 0) == 0)
      wrong_address = true;
    else if (line == msg::kCrcError)
      crc = true;
    else if (line == msg::kError)
      exception = true;
    else if (line == msg::kWrongId)
      wrong_id = true;
    else if (line == msg::kWrongLength)
      wrong_length = true;
    else if (line == msg::kResetError)
      reset_error = true;
    else if (line == msg::kTimeOut)
      timeout = true;
    else if (line == msg::kOk)
      ok = true;
  }
  if (port) return ExchangeOutcome::kPortError;
  if (crc) return ExchangeOutcome::kCrcError;
  if (wrong_address) return ExchangeOutcome::kWrongAddress;
  if (exception) return ExchangeOutcome::kException;
  if (wrong_id) return ExchangeOutcome::kWrongId;
  if (wrong_length) return ExchangeOutcome::kWrongLength;
  if (reset_error) return ExchangeOutcome::kResetError;
  if (timeout) return ExchangeOutcome::kTimeOut;
  if (ok) return ExchangeOutcome::kOk;
  return ExchangeOutcome::kNone;
}

ExchangeOutcome OutcomeOf(const ExchangeRecord& record) {
  if (SeveralAnswerers(record.AllBytes())) return ExchangeOutcome::kSeveralDevices;
  return OutcomeOf(record.log);
}

const char* OutcomeName(ExchangeOutcome outcome) {
  switch (outcome) {
    case ExchangeOutcome::kOk:
      return "ok";
    case ExchangeOutcome::kTimeOut:
      return "time-out";
    case ExchangeOutcome::kCrcError:
      return "crc-error";
    case ExchangeOutcome::kWrongAddress:
      return "wrong-address";
    case ExchangeOutcome::kException:
      return "exception";
    case ExchangeOutcome::kWrongId:
      return "wrong-identity";
    case ExchangeOutcome::kWrongLength:
      return "wrong-length";
    case ExchangeOutcome::kResetError:
      return "reset-error";
    case ExchangeOutcome::kPortError:
      return "port-error";
    case ExchangeOutcome::kSeveralDevices:
      return "several-devices";
    case ExchangeOutcome::kNone:
      break;
  }
  return "none";
}

}  // namespace ornat
