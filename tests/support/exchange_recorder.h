#pragma once
// An observer that keeps every exchange the engine tells it of, in order; add it to a
// window's observer list (SimulatedForm::exchanges) for as long as it lives.

#include <vector>

#include "modbus/exchange_observer.h"

namespace ornat::testing {

struct ExchangeRecorder : ExchangeObserver {
  explicit ExchangeRecorder(ExchangeObserverList& list) : list_(list) { list_.Add(this); }
  ~ExchangeRecorder() override { list_.Remove(this); }
  ExchangeRecorder(const ExchangeRecorder&) = delete;
  ExchangeRecorder& operator=(const ExchangeRecorder&) = delete;
  void ExchangeEnded(const ExchangeRecord& r) override { records.push_back(r); }
  std::vector<ExchangeRecord> records;

 private:
  ExchangeObserverList& list_;
};

}  // namespace ornat::testing
