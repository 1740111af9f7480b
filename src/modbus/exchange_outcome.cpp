#include "modbus/exchange_outcome.h"

#include "modbus/answer_scan.h"

namespace ornat {

namespace {

int Rank(ExchangeOutcome outcome) {
  switch (outcome) {
    case ExchangeOutcome::kNone:
      return 0;
    case ExchangeOutcome::kOk:
      return 1;
    case ExchangeOutcome::kTimeOut:
      return 2;
    case ExchangeOutcome::kResetError:
      return 3;
    case ExchangeOutcome::kWrongLength:
      return 4;
    case ExchangeOutcome::kWrongId:
      return 5;
    case ExchangeOutcome::kException:
      return 6;
    case ExchangeOutcome::kWrongAddress:
      return 7;
    case ExchangeOutcome::kCrcError:
      return 8;
    case ExchangeOutcome::kPortError:
      return 9;
    case ExchangeOutcome::kSeveralDevices:
      return 10;
  }
  return 0;
}

}  // namespace

ExchangeOutcome Worse(ExchangeOutcome a, ExchangeOutcome b) {
  return Rank(b) > Rank(a) ? b : a;
}

ExchangeOutcome EndedOutcome(ExchangeOutcome noted, const std::vector<std::uint8_t>& bytes) {
  return SeveralAnswerers(bytes) ? ExchangeOutcome::kSeveralDevices : noted;
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
