#include "modbus/exchange_outcome.h"

#include <algorithm>
#include <iterator>

#include "modbus/answer_scan.h"

namespace ornat {

namespace {

// From none to the worst: the later an outcome stands, the worse it is.
constexpr ExchangeOutcome kBestToWorst[] = {
    ExchangeOutcome::kNone,           ExchangeOutcome::kOk,
    ExchangeOutcome::kTimeOut,        ExchangeOutcome::kResetError,
    ExchangeOutcome::kWrongLength,    ExchangeOutcome::kWrongId,
    ExchangeOutcome::kException,      ExchangeOutcome::kWrongAddress,
    ExchangeOutcome::kCrcError,       ExchangeOutcome::kPortError,
    ExchangeOutcome::kSeveralDevices,
};

std::size_t Rank(ExchangeOutcome outcome) {
  return static_cast<std::size_t>(
      std::find(std::begin(kBestToWorst), std::end(kBestToWorst), outcome) -
      std::begin(kBestToWorst));
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
