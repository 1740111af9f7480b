#pragma once
// The survey's pace: what the exchanges of the survey do differently from the window's,
// all of it in milliseconds at one line speed. The survey keeps its pace and gives the
// engine a pointer to it (TForm1::BeginSurveyPace) for as long as it runs; the engine
// then reads every function-3 read at that pace and asks a PacedExchange, made at the
// read's write, when to complete it. While no pace is given, as the window always runs,
// the engine is exactly the window's.

#include <cstdint>
#include <functional>
#include <optional>

#include "runtime/scheduler.h"

namespace ornat {

class TComPort;

struct SurveyPace {
  // A probe's Timer_Rx, from the end of its write: the request on the wire, the longest
  // turnaround allowed and the first answer byte. Not a Delay-menu value.
  std::uint16_t window_ms = 0;
  // A read ends this long after the last byte came (ComPort1's read interval and total
  // timeout): longer than 3.5 characters and than the gaps of a USB adapter that hands
  // bytes over in bursts.
  std::uint16_t silence_ms = 0;
  // From a hand-over to the completion (the window's 5 ms, or more at low speeds, so
  // that a byte right behind an answer still comes in its exchange).
  std::uint16_t settle_ms = 5;
  // A window in which an answer's first byte came is extended until that answer is
  // handed over, by at most this much (the round-trip allowance included).
  std::uint16_t extension_ms = 0;
  // The round-trip allowance of a network line (modbus/round_trip.h), already in
  // window_ms. A read whose answer has begun then ends by the answer's length, not by
  // a silence alone: it waits up to this much more for the rest (a TCP segment may end
  // inside an answer). 0 on a local port: a silence ends it.
  std::uint16_t allowance_ms = 0;
  // The survey sweeps: its reads are probes (they wait window_ms for an answer, complete
  // at its end at the earliest, and fail silently), the port stays open also after bytes
  // that came with no request, and every answer is taken as the answer of the address it
  // carries. Otherwise its reads are parameter queries, whose window is the window's
  // response timeout.
  bool probing = false;
};

// One read of the survey from its write to its completion: when the completion comes,
// judged by the hand-overs and the time. Pure: the engine arms Timer_Rx as it says.
class PacedExchange {
 public:
  // A read written at `written` whose answer's first byte may come for `window_ms`
  // (a probe's window, or a query's response timeout).
  PacedExchange(const SurveyPace& pace, bool probe, Micros written, int window_ms);

  // Whether a hand-over takes the place of the bytes before it (FrameBuffer): not once
  // an answer is in, unless it ends with an answer itself. Asked before AfterHandOver.
  bool TakesPlace(bool answer) const { return answer || !answer_seen_; }
  // A hand-over at `now`; `answer`: it ended with a whole answer. The interval Timer_Rx
  // restarts with (the settle, cut to the deadline), or nothing: Timer_Rx goes on
  // counting the window (no answer yet, or a probe whose settle would end within it: a
  // second device at the address answers within it too).
  std::optional<int> AfterHandOver(Micros now, bool answer);
  // Timer_Rx has fired at `now`: how long the completion is put off (ms), or nothing: the
  // exchange completes now. A probe completes at its window's end at the earliest, a
  // query once an answer is in; past that, while an answer's bytes are `coming` (being
  // read, or waiting in the port's queue), at most until the deadline. `coming` is asked
  // only then.
  std::optional<int> PutOff(Micros now, const std::function<bool()>& coming) const;

 private:
  SurveyPace pace_;
  bool probe_;
  Micros window_end_;
  Micros deadline_;
  // A hand-over ended with a whole answer.
  bool answer_seen_ = false;
};

// ComPort1's read timeouts for the survey's reads: each waits the pace's silence for its
// next byte, its first one included. Throws what the port throws.
void ApplyPaceTimeouts(TComPort& port, const SurveyPace& pace);
// The window's again: 150 ms between bytes, no total timeout. Throws what the port throws.
void ApplyWindowTimeouts(TComPort& port);

// How many silences in a row a read with bytes in it outlasts on a network line: as
// many as fill the allowance (0 without one).
int ReadPatience(const SurveyPace& pace);

// On the event thread, a read at the pace's timeouts into buffer[0..cap): one byte at a
// time, so that it ends with the byte that completes an answer of limit - 12 bytes (the
// read limit's expected answer) or an exception, stray bytes in front of it included; or
// after the silence (a read that returns empty), once bytes have come only after
// `patience` + 1 silences in a row (ReadPatience); or at the read limit, unless more
// bytes wait already: bytes that came in one burst with those before them raise no
// arrival of their own. Returns the count; throws what the port's read throws (what
// came before an error is lost with it, as in the window).
int ReadUntilAnswer(TComPort& port, std::uint8_t* buffer, int cap, int limit, int patience = 0);

}  // namespace ornat
