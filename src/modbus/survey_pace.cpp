#include "modbus/survey_pace.h"

#include <algorithm>
#include <chrono>

#include "modbus/exchange.h"
#include "modbus/protocol.h"
#include "serial/comport.h"

namespace ornat {

namespace {

// ComPort1's read interval, as the window stores it (no total timeout).
constexpr int kWindowReadIntervalMs = 150;

int CeilMs(Micros span) {
  return static_cast<int>(std::chrono::ceil<Millis>(span).count());
}

void SetReadTimeouts(TComPort& port, int interval_ms, int total_ms) {
  TComTimeouts& t = port.Timeouts();
  t.SetReadInterval(interval_ms);
  t.SetReadTotalMultiplier(0);
  t.SetReadTotalConstant(total_ms);
}

}  // namespace

PacedExchange::PacedExchange(const SurveyPace& pace, bool probe, Micros written, int window_ms)
    : pace_(pace),
      probe_(probe),
      window_end_(written + Millis(window_ms)),
      deadline_(window_end_ + Millis(pace.extension_ms)) {}

std::optional<int> PacedExchange::AfterHandOver(Micros now, bool answer) {
  // Bytes before an answer within the window (an adapter's echo, noise) change nothing:
  // the own answer may still begin in it.
  if (answer) answer_seen_ = true;
  if (!answer_seen_ && now < window_end_) return std::nullopt;
  // A probe's completion not before its window's end, as a second device at the same
  // address answers within it too and both answers are then judged in one exchange;
  // never past the deadline, so that bytes without end end it there.
  if (probe_ && now + Millis(pace_.settle_ms) <= window_end_) return std::nullopt;
  return std::clamp(CeilMs(deadline_ - now), 1, static_cast<int>(pace_.settle_ms));
}

std::optional<int> PacedExchange::PutOff(Micros now, const std::function<bool()>& coming) const {
  // No neighbour's probe goes out while an answer is still coming in, and an answer that
  // began in time is judged in its own exchange. A byte right behind an answer puts the
  // completion off again.
  Micros until = deadline_;
  if (now < window_end_ && (!answer_seen_ || probe_)) {
    until = window_end_;
  } else if (now >= deadline_ || !coming()) {
    return std::nullopt;
  }
  return CeilMs(until - now);
}

void ApplyPaceTimeouts(TComPort& port, const SurveyPace& pace) {
  SetReadTimeouts(port, pace.silence_ms, pace.silence_ms);
}

void ApplyWindowTimeouts(TComPort& port) {
  SetReadTimeouts(port, kWindowReadIntervalMs, 0);
}

int ReadPatience(const SurveyPace& pace) {
  if (pace.allowance_ms == 0 || pace.silence_ms == 0) return 0;
  return (pace.allowance_ms + pace.silence_ms - 1) / pace.silence_ms;
}

int ReadUntilAnswer(TComPort& port, std::uint8_t* buffer, int cap, int limit, int patience) {
  // Each one-byte read returns with its byte at once or empty after the silence (its
  // total timeout), so none waits for a first byte without end. The line's next byte (a
  // neighbour's answer, a transmitter's trailing byte) starts a read of its own.
  const int expected = limit - kReadRoom;
  int got = 0;
  int silences = 0;
  while (got < cap) {
    // Past the read limit, only what is queued already: noise that goes on is handed
    // over in pieces, each in the exchange it came in.
    if (got >= limit && port.QueuedInputCount() == 0) break;
    if (port.ReadBytes(buffer + got, 1) <= 0) {
      // The silence; on a network line the rest of an answer begun may come a round
      // trip later, in a segment of its own.
      if (got == 0 || ++silences > patience) break;
      continue;
    }
    silences = 0;
    ++got;
    if (AnswerEndsAt(buffer, got, expected)) break;
  }
  return got;
}

}  // namespace ornat
