#pragma once
// The outcome of an exchange: what the message lines of the catalogue that the engine
// and the dispatcher add below its request and answer say, noted by them as they add
// each line; and, from its bytes, two or more devices answering at one address, which
// no line tells. The engine sets it on the exchange's record as the exchange ends
// (ExchangeRecord::outcome); the journal, the survey and ornat-cli read it there.

#include <cstdint>
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

// The worse of two outcomes noted in one exchange: a port error before a CRC error
// before an answer from another address before an exception answer before a rejected
// answer (identity, then length) before a failed reset before a time-out before "ОК."
// before none. Several devices, which only the bytes tell, before all.
ExchangeOutcome Worse(ExchangeOutcome a, ExchangeOutcome b);

// What an exchange came to as it ends: kSeveralDevices when `bytes` (all it read) show
// two or more devices answering at one address, whatever was noted; else `noted`.
ExchangeOutcome EndedOutcome(ExchangeOutcome noted, const std::vector<std::uint8_t>& bytes);

// "ok", "time-out", "crc-error", "wrong-address", "exception", "wrong-identity", "wrong-length",
// "reset-error", "port-error", "several-devices", "none".
const char* OutcomeName(ExchangeOutcome outcome);

}  // namespace ornat
