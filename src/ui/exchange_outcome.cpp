#include "ui/exchange_outcome.h"

#include "ui/exchange_log.h"

namespace ornat {

ExchangeOutcome OutcomeOf(const std::vector<std::string>& log) {
  bool ok = false, timeout = false, crc = false, exception = false, wrong_id = false,
       wrong_length = false, reset_error = false, port = false;
  const std::string port_prefix = msg::kPortOpenError;
  for (const std::string& line : log) {
    if (line.rfind(port_prefix, 0) == 0)
      port = true;
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
  if (exception) return ExchangeOutcome::kException;
  if (wrong_id) return ExchangeOutcome::kWrongId;
  if (wrong_length) return ExchangeOutcome::kWrongLength;
  if (reset_error) return ExchangeOutcome::kResetError;
  if (timeout) return ExchangeOutcome::kTimeOut;
  if (ok) return ExchangeOutcome::kOk;
  return ExchangeOutcome::kNone;
}

const char* OutcomeName(ExchangeOutcome outcome) {
  switch (outcome) {
    case ExchangeOutcome::kOk:
      return "ok";
    case ExchangeOutcome::kTimeOut:
      return "time-out";
    case ExchangeOutcome::kCrcError:
      return "crc-error";
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
    case ExchangeOutcome::kNone:
      break;
  }
  return "none";
}

}  // namespace ornat
