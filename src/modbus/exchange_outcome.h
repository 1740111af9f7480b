#pragma once
// The outcome of an exchange as its log lines tell it: the message lines of the
// catalogue that the engine and the dispatcher add below the request and answer; and,
// from its bytes, two or more devices answering at one address, which no line tells.

#include <string>
#include <vector>

namespace ornat {

enum class ExchangeOutcome {
  kNone,          // no outcome line (a probe that got nothing, an exchange under way)
  kOk,            // "   : ОК." and nothing worse
  kTimeOut,       // "   : TIME OUT."
  kCrcError,      // "   : CRC ERROR."
  kWrongAddress,  // "   : ОТВЕТ С ЧУЖОГО АДРЕСА NNN" (another device answered)
  kException,     // "   : ОШИБКА." (the detector answered with an exception code)
  kWrongId,       // "   : НЕВЕРНЫЙ ID УСТРОЙСТВА."
  kWrongLength,   // "   : НЕВЕРНАЯ ДЛИНА ОТВЕТА."
  kResetError,    // "   : СБРОС НАСТРОЕК -> ОШИБКА..."
  kPortError,     // "   : ОШИБКА ОТКРЫТИЯ ПОРТА ..."
  // Two answers from one address in the exchange's bytes, or one and a garbled one
  // (SeveralAnswerers): two or more devices share that address.
  kSeveralDevices,
};

struct ExchangeRecord;

// The worst outcome the lines show: a port error before a CRC error before an answer
// from another address before an exception answer before a rejected answer before a
// time-out before "ОК.".
ExchangeOutcome OutcomeOf(const std::vector<std::string>& log);

// The outcome of a whole exchange: kSeveralDevices when its bytes show two or more
// devices answering at one address (whatever its lines say), else OutcomeOf(its log).
ExchangeOutcome OutcomeOf(const ExchangeRecord& record);

// "ok", "time-out", "crc-error", "wrong-address", "exception", "wrong-identity", "wrong-length",
// "reset-error", "port-error", "several-devices", "none".
const char* OutcomeName(ExchangeOutcome outcome);

}  // namespace ornat
