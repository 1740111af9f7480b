#include "modbus/exchange_observer.h"

#include <algorithm>

#include "detector/register_map.h"
#include "modbus/protocol.h"

namespace ornat {

const std::vector<std::uint8_t>& ExchangeRecord::Answer() const {
  static const std::vector<std::uint8_t> kNone;
  return reads.empty() ? kNone : reads.back();
}

std::vector<std::uint8_t> ExchangeRecord::AllBytes() const {
  std::vector<std::uint8_t> all;
  for (const auto& r : reads) all.insert(all.end(), r.begin(), r.end());
  return all;
}

void ExchangeObserverList::Add(ExchangeObserver* observer) {
  if (observer != nullptr) observers_.push_back(observer);
}

void ExchangeObserverList::Remove(ExchangeObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void ExchangeObserverList::ExchangeEnded(const ExchangeRecord& record) {
  // A copy: an observer may remove itself while it is told.
  const std::vector<ExchangeObserver*> now = observers_;
  for (ExchangeObserver* o : now) o->ExchangeEnded(record);
}

std::string OperationName(const ExchangeRecord& record) {
  // No request: bytes that came unasked, or a send refused before its request was made.
  if (record.request.size() < 6)
    return record.end == ExchangeRecord::End::kSendFailed ? "none" : "idle";
  const auto& f = record.request;
  const auto reg = static_cast<std::uint16_t>(f[2] * 256 + f[3]);
  const auto value = static_cast<std::uint16_t>(f[4] * 256 + f[5]);
  if (f[1] == kReadHoldingRegisters) {
    if (reg == kRegIdentity && value == kParameterCount) return "query";
    if (reg == kRegIdentity && value == 1 && record.searching) return "probe";
    if (reg == kServiceBlockF0 || reg == kServiceBlockF2 || reg == kServiceBlockF3)
      return "service-read";
    return "read";
  }
  if (f[1] != kWriteSingleRegister) return "write";
  if (record.sender == ExchangeSender::kWriteToFixedAddress) {
    if (reg == kRegAddress) return "reset-step-1";
    if (reg == kRegLineSpeed) return "reset-step-2";
  }
  switch (reg) {
    case kRegAddress:
      return "address";
    case kRegLineSpeed:
      return "baud";
    case kRegTactic:
      return "tactic";
    case kRegLatching:
      return "latching";
    case kRegAlarmReset:
      return "alarm-reset";
    case kRegTestMode:
      return "test";
    default:
      return "write";
  }
}

}  // namespace ornat
