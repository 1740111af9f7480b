// The exchange engine: one request/answer exchange at a time on the half-duplex line.
// A sender logs the request, opens the port, writes the 8 bytes and arms Timer_Rx
// with the response timeout. Answer bytes are read on the serial event thread and
// handed over to the user-interface thread, which re-arms Timer_Rx with 5 ms. When
// Timer_Rx fires, the completion validates, logs and dispatches the answer (or
// reports a CRC error or a time-out) and re-arms a deferred action or the sequencer.
//
// Threads: everything here runs on the user-interface thread except ComPort1RxChar,
// which the event thread runs (ComPort1 uses smNone). It reads into rx_buffer_, its
// own, reads the read limit from read_limit_for_reads_ and posts the hand-over; it
// never touches State, the log or the timers.
//
// The survey's pace (BeginSurveyPace; modbus/survey_pace.h) is the one mode in which
// the engine works otherwise, for the reads of the survey, an operation of its own over
// these senders: a probe's short window, extended while an answer that began in it is
// read; reads that end with the answer instead of 150 ms after it; an answer that stands
// whole in a read judged even when bytes came after it; and the port kept open after
// each of its exchanges. While no pace is given, which is always the case for the
// window, nothing of it applies.

#include "modbus/exchange.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <vector>

#include "detector/register_map.h"
#include "modbus/round_trip.h"
#include "modbus/rtu_codec.h"
#include "modbus/survey_pace.h"
#include "serial/comport.h"
#include "serial/network/mbap.h"
#include "serial/platform/platform.h"
#include "ui/exchange_log.h"
#include "ui/main_window.h"

namespace ornat {

int ResponseTimeoutMs(std::uint8_t baud_index) {
  switch (baud_index) {
    case 0:
      return 3000;  // 1200 bit/s
    case 1:
      return 1500;  // 2400 bit/s
    case 2:
      return 700;  // 4800 bit/s
    default:
      return 500;  // 9600 bit/s and above
  }
}

std::uint8_t ReadLimitForRead(std::uint16_t count) {
  // One-byte arithmetic, as the limit is one byte: count 128 gives 2 * 128 + 5 = 5,
  // and a limit of 17.
  std::uint8_t n = static_cast<std::uint8_t>(count & 0xFF);
  if (n == 0) n = 1;
  const auto expected = static_cast<std::uint8_t>(2 * n + 5);
  return static_cast<std::uint8_t>(expected + kReadRoom);
}

// --- transmission -------------------------------------------------------------

void TForm1::SendWriteRegister(std::uint16_t reg, std::uint16_t value, TTeMemo& log) {
  BuildRequest(State.FrameBuffer, State.DeviceAddress, kWriteSingleRegister, reg, value);
  next_sender_ = ExchangeSender::kWrite;
  Transmit(log, kWriteReadLimit, false);
}

void TForm1::SendWriteRegisterTo(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                                 TTeMemo& log) {
  BuildRequest(State.FrameBuffer, address, kWriteSingleRegister, reg, value);
  next_sender_ = ExchangeSender::kWriteToFixedAddress;
  Transmit(log, kWriteReadLimit, false);
}

void TForm1::SendReadRegisters(std::uint16_t first, std::uint16_t count, TTeMemo& log) {
  SendReadRegistersTo(State.DeviceAddress, first, count, log);
}

void TForm1::SendReadRegistersTo(std::uint8_t address, std::uint16_t first, std::uint16_t count,
                                 TTeMemo& log) {
  BuildRequest(State.FrameBuffer, address, kReadHoldingRegisters, first, count);
  next_sender_ = ExchangeSender::kRead;
  Transmit(log, ReadLimitForRead(count), true);
}

void TForm1::Transmit(TTeMemo& log, std::uint8_t read_limit, bool search_read) {
  // A request whose completion never came (a service read has no guards) is told as
  // such before this one takes its place; bytes handed over meanwhile stay with the
  // new exchange, as FrameBuffer keeps their count.
  if (request_in_flight_) {
    auto reads = std::move(exchange_.reads);
    EndExchange(ExchangeRecord::End::kSuperseded);
    exchange_.reads = std::move(reads);
  }
  // What the completion checks the answer's address against.
  std::copy_n(State.FrameBuffer.begin(), State.SentRequest.size(), State.SentRequest.begin());
  exchange_.sender = next_sender_;
  exchange_.request.assign(State.FrameBuffer.begin(), State.FrameBuffer.begin() + 8);
  exchange_.port = ComPort1_->Port();
  exchange_.bit_rate = BaudRateToBits(ComPort1_->BaudRate());
  exchange_.started = env_.scheduler->Now();
  // The survey's pace covers the reads the survey makes (its probes while it sweeps, its
  // parameter queries otherwise); writes, and every exchange of the window, go the
  // window's way.
  const bool paced = search_read && pace_ != nullptr;
  const bool probe = paced ? pace_->probing : search_read && State.SessionMode == kSessionSearch;
  exchange_.searching = probe || State.SessionMode == kSessionSearch;
  // The TX line is on screen before the port is opened, so it stays when the send fails.
  LogRequest(State.FrameBuffer.data());
  // The event thread's limit is in place before the port opens: a byte that arrives
  // while the request is written (noise, an adapter's echo) starts a read at once, and
  // the limit that read takes must be this exchange's, not the previous one's (0 at
  // start-up: a read of nothing, handed over as a time-out).
  read_limit_for_reads_.store(read_limit, std::memory_order_release);
  paced_patience_.store(paced ? ReadPatience(*pace_) : 0, std::memory_order_release);
  paced_reads_.store(paced, std::memory_order_release);
  try {
    // A paced probe reads with the pace's timeouts; the next exchange that is not one
    // has the window's again (set on the open port, or stored for the open).
    if (paced) {
      ApplyPaceTimeouts(*ComPort1_, *pace_);
      pace_timeouts_ = true;
    } else if (pace_timeouts_) {
      ApplyWindowTimeouts(*ComPort1_);
      pace_timeouts_ = false;
    }
    // The line is this window's before its port is opened: another ornat program that
    // holds it refuses the send as a program that holds the port does.
    HoldLine();
    // During a bus search the port is open already and this does nothing.
    ComPort1_->OpenPort();
    ComPort1_->WriteBytes(State.FrameBuffer.data(), 8);
    State.ReadLimit = read_limit;
    // Two steps, as the timer rules make them matter: each different interval
    // restarts an enabled Timer_Rx (bytes handed over in Idle during a search leave
    // it counting 5 ms), so the timeout counts from the end of this write.
    // A network line's round trip on top (the survey's windows hold it already).
    const int allowance = RoundTripAllowanceMs();
    Timer_Rx.SetInterval(ResponseTimeoutMs(State.BaudIndex) + allowance);
    if (probe) Timer_Rx.SetInterval(paced ? pace_->window_ms : State.SearchDelayMs + allowance);
    Timer_Rx.SetEnabled(true);
    request_in_flight_ = true;
    // A probe's window is the pace's; a query's, the window's response timeout.
    if (paced) paced_.emplace(*pace_, probe, env_.scheduler->Now(), Timer_Rx.Interval());
  } catch (const EComPort& e) {
    // Nothing else: the port is left as it is (a port that opened stays open), no
    // timer is armed and no completion follows. One exception: a write that fails
    // because the device is gone (an adapter unplugged, the other side of a pty
    // closed). Left open, that port could never be written again, since every later
    // send finds it open and skips the open; closed, the next send opens it anew.
    if (e.ErrorCode() == 2 && e.Kind() == PortErrorKind::kGone) {
      try {
        ComPort1_->ClosePort();
      } catch (const std::exception&) {
        // Nothing more can be done for a device that is gone.
      }
    }
    NoteSendFailure(exchange_, e);
    exchange_.failure_detail = ComPort1_->Device().LastProblem();
    log.SetFontColor(kLogOutcomeColor);
    for (const std::string& line : SendFailureLines(ComPort1_->Port(), e)) log.Add(line);
    EndFailedSend();
  } catch (const std::exception& e) {
    exchange_.failure = e.what();
    ReportSendFailure(log);
    EndFailedSend();
  }
}

void NoteSendFailure(ExchangeRecord& record, const EComPort& e) {
  record.failure = e.what();
  record.failure_code = e.ErrorCode();
  record.failure_errno = std::max(e.SystemError(), 0);
  record.failure_holders = e.Holders();
  record.outcome = Worse(record.outcome, ExchangeOutcome::kPortError);
  if (e.SystemError() > 0) record.failure += ": " + SystemErrorText(e.SystemError());
}

void NoteLineLost(ExchangeRecord& record, DevError error) {
  record.failure = "the line was lost while the answer was awaited";
  if (error > 0) record.failure += ": " + SystemErrorText(error);
  record.failure_code = CError_WaitFailed;
  record.failure_errno = std::max(error, 0);
  record.outcome = Worse(record.outcome, ExchangeOutcome::kPortError);
}

std::string GatewayNoAnswerLine(std::uint8_t code) {
  return "   : gateway exception 0x" + ByteToHex(code) +
         (code == kGatewayPathUnavailable ? ": the gateway has no path to the line"
                                          : ": the detector did not answer");
}

std::vector<std::string> SendFailureLines(const std::string& port, const EComPort& e) {
  std::vector<std::string> lines = {msg::kPortOpenError + port};
  // One more line, under the port error, when other programs were found holding the
  // port: the engineer sees whom to close.
  if (!e.Holders().empty()) lines.push_back("   : " + HolderText(e.Holders()));
  return lines;
}

EComPort LineInUse(const LineHolder& holder) {
  return EComPort(CError_OpenFailed, LineInUseError(),
                  {PortHolder{static_cast<int>(holder.pid), LineHolderText({0, holder.runs})}});
}

void TForm1::ReportSendFailure(TTeMemo& log) {
  log.SetFontColor(kLogOutcomeColor);
  log.Add(msg::kPortOpenError + ComPort1_->Port());
  NoteOutcome(ExchangeOutcome::kPortError);
}

void TForm1::AddOutcomeLine(const std::string& line, ExchangeOutcome outcome) {
  TeMemo1.Add(line);
  NoteOutcome(outcome);
}

void TForm1::NoteOutcome(ExchangeOutcome outcome) {
  exchange_.outcome = Worse(exchange_.outcome, outcome);
}

void TForm1::EndFailedSend() {
  // Bytes handed over before this send (in Idle, during a search) still have a
  // completion due: they stay for it.
  std::vector<std::vector<std::uint8_t>> reads;
  if (Timer_Rx.Enabled()) reads = std::move(exchange_.reads);
  EndExchange(ExchangeRecord::End::kSendFailed);
  if (!reads.empty()) StartIdleExchange();
  for (auto& r : reads) exchange_.reads.push_back(std::move(r));
  // Nothing re-arms a sequence after this send: it ends, visibly, rather than halting.
  EndSequenceOnPortFailure();
}

// --- data arrival ---------------------------------------------------------------

void TForm1::ComPort1RxChar(TObject*, int) {
  // On the event thread. The read limit is taken once, as the read begins; a sender
  // on the UI thread may store a new one meanwhile.
  const int limit = read_limit_for_reads_.load(std::memory_order_acquire);
  const bool paced = paced_reads_.load(std::memory_order_acquire);
  const int patience = paced_patience_.load(std::memory_order_acquire);
  // Counted until its hand-over (or the notice that it handed nothing over) has run
  // on the UI thread: the end of a search waits for an answer being read.
  reads_open_.fetch_add(1, std::memory_order_acq_rel);
  std::weak_ptr<int> alive = alive_;
  for (;;) {
    int count = 0;
    bool more = false;
    try {
      // Returns when `limit` bytes have come or 150 ms after the last byte (the port's
      // ReadInterval); never earlier with only what happens to be queued, since every
      // read starts again at byte 0 of FrameBuffer.
      count = paced ? ReadUntilAnswer(*ComPort1_, rx_buffer_.data(),
                                      static_cast<int>(rx_buffer_.size()) - 1, limit, patience)
                    : ComPort1_->ReadBytes(rx_buffer_.data(), limit);
    } catch (const std::exception&) {
      // A failed read, or one that closing the port cut short, hands nothing over.
      env_.dispatcher->Post([this, alive] {
        if (alive.expired()) return;
        ReadHandedNothingOver();
      });
      return;
    }
    // Bytes that came in one burst with those read (a transmitter's trailing byte behind
    // an answer written in one go, bytes past the read limit) raise no arrival of their
    // own: a further read takes them, so that each lands in the exchange it came in and
    // none waits unread for the port to close.
    try {
      more = ComPort1_->QueuedInputCount() > 0;
    } catch (const std::exception&) {
      more = false;  // a port that cannot tell has nothing more to hand over
    }
    count = std::clamp(count, 0, paced ? static_cast<int>(rx_buffer_.size()) - 1 : limit);
    std::vector<std::uint8_t> bytes(rx_buffer_.begin(), rx_buffer_.begin() + count);
    // The further read counts as open before this hand-over runs: a completion due
    // meanwhile sees that more is coming.
    if (more) reads_open_.fetch_add(1, std::memory_order_acq_rel);
    // Through the gate: never while a sender or a completion runs (a modal dialog of
    // a completion included); held hand-overs run right after it, in order.
    env_.dispatcher->Post([this, alive, bytes = std::move(bytes)] {
      if (alive.expired()) return;
      reads_open_.fetch_sub(1, std::memory_order_acq_rel);
      HandOver(bytes);
    });
    if (!more) return;
  }
}

void TForm1::ReadHandedNothingOver() {
  reads_open_.fetch_sub(1, std::memory_order_acq_rel);
  // The read the end of a search waited for has failed (the device gone): the search
  // ends as the failed probe's completion would have ended it, unless a completion
  // is due anyway.
  if (!search_end_waits_ || Timer_Rx.Enabled() || ReadsOpen()) return;
  search_end_waits_ = false;
  if (State.SessionMode != kSessionSearch) return;
  EndOfSearch();
  ComPort1_->ClosePort();
}

bool TForm1::ReadsOpen() const {
  return reads_open_.load(std::memory_order_acquire) > 0;
}

void TForm1::EndOfSearchUnlessAnswerComing(bool waited) {
  // The probe to 248 has failed. At low speeds an answer can still be under way: at
  // 1200 bit/s a detector at 247 answers 125 ms after its probe is written and is
  // read 150 ms later, past the 100 ms window of the probe to 248. The end waits once
  // for a read under way to be handed over; its completion then finds the detector
  // or ends the search.
  if (!waited && ReadsOpen()) {
    search_end_waits_ = true;
    return;
  }
  EndOfSearch();
}

void TForm1::HandOver(const std::vector<std::uint8_t>& bytes) {
  // Bytes with no request in flight (between two probes of a search) begin an
  // exchange of their own.
  if (!request_in_flight_ && exchange_.reads.empty()) StartIdleExchange();
  exchange_.reads.push_back(bytes);
  const bool answer = paced_ && AnswerEndsAt(bytes.data(), static_cast<int>(bytes.size()),
                                             State.ReadLimit - kReadRoom);
  // A paced exchange whose answer is in already keeps it for its completion: bytes
  // that follow it (noise, a trailing byte) are in its record, not in its place.
  if (!paced_ || paced_->TakesPlace(answer)) {
    std::copy(bytes.begin(), bytes.end(), State.FrameBuffer.begin());
    // Replaces the previous count: a second read in one exchange overwrites the first.
    State.ReceivedCount = static_cast<std::uint16_t>(bytes.size());
  }
  // The first hand-over finds a response timeout and restarts Timer_Rx at 5 ms; a
  // further one finds 5 ms and an enabled timer and changes nothing. In Idle it
  // starts a completion of its own.
  if (!paced_) {
    Timer_Rx.SetInterval(kSettlingMs);
    Timer_Rx.SetEnabled(true);
    return;
  }
  // A paced read: the completion follows the pace's settle after the last hand-over,
  // once an answer is in or the window has ended.
  if (const auto settle = paced_->AfterHandOver(env_.scheduler->Now(), answer)) {
    Timer_Rx.SetEnabled(false);
    Timer_Rx.SetInterval(*settle);
    Timer_Rx.SetEnabled(true);
  }
}

// --- the round-trip allowance ----------------------------------------------------

void TForm1::SetNetDelayMs(std::optional<int> ms) {
  if (ms) ms = std::clamp(*ms, 0, kMaxNetDelayMs);
  net_delay_ms_ = ms;
}

int TForm1::RoundTripAllowanceMs() const {
  // --net-delay first, then the net-delay=MS of the named line in use.
  std::optional<int> chosen = net_delay_ms_;
  if (!chosen)
    if (const NamedLine* line = ChosenNamedLine()) chosen = line->net_delay_ms;
  return ornat::RoundTripAllowanceMs(ComPort1_->Port(), chosen);
}

// --- the survey's pace ------------------------------------------------------------

void TForm1::BeginSurveyPace(const SurveyPace* pace) {
  if (pace == nullptr) return EndSurveyPace();
  pace_ = pace;
}

void TForm1::EndSurveyPace() {
  if (pace_ == nullptr) return;
  pace_ = nullptr;
  // Bytes that come after the last probe are read the window's way from here on.
  paced_reads_.store(false, std::memory_order_release);
  // The port the pace kept open is closed as the window closes it after an exchange;
  // with an exchange in flight, bytes being read or a search on, the completion to
  // come does that.
  const bool close = State.SessionMode != kSessionSearch && !Timer_Rx.Enabled() && !ReadsOpen();
  try {
    if (pace_timeouts_) ApplyWindowTimeouts(*ComPort1_);
    pace_timeouts_ = false;
    if (close) ComPort1_->ClosePort();
  } catch (const std::exception&) {
    // The values are stored; closed, the port gets them all with its next open.
    pace_timeouts_ = false;
    try {
      ComPort1_->ClosePort();
    } catch (const std::exception&) {
      // Nothing more can be done for a port that refuses both.
    }
  }
}

bool TForm1::Probing() const {
  return State.SessionMode == kSessionSearch || (pace_ != nullptr && pace_->probing);
}

// --- completion -----------------------------------------------------------------

void TForm1::Timer_RxTimer(TObject*) {
  Timer_Rx.SetEnabled(false);
  // A paced probe's window is put off while an answer that began in it is read.
  if (paced_ && request_in_flight_) {
    const auto later = paced_->PutOff(env_.scheduler->Now(), [this] {
      if (ReadsOpen()) return true;
      try {
        return ComPort1_->QueuedInputCount() > 0;
      } catch (const std::exception&) {
        return false;  // a port that cannot tell has nothing more to hand over
      }
    });
    if (later) {
      Timer_Rx.SetInterval(*later);
      Timer_Rx.SetEnabled(true);
      return;
    }
  }
  try {
    CompleteExchange();
  } catch (...) {
    // A close or a speed change the port refused (an adapter pulled as the exchange
    // ended) ends the completion here, and its report shows the error. Left as they
    // were, the exchange's flags would refuse every configuration write, a cyclic
    // query would show "СТОП" and the last state while reading nothing, and a
    // deferred action or the sequence's next step would go out with whichever later
    // exchange completed: the exchange ends here, and its sequence with it.
    State.ReceivedCount = 0;
    State.PendingOp = kOpNone;
    State.QueryPending = 0;
    if (request_in_flight_ || !exchange_.reads.empty())
      EndExchange(request_in_flight_ ? ExchangeRecord::End::kCompleted
                                     : ExchangeRecord::End::kIdle);
    EndSequenceOnPortFailure();
    throw;
  }
}

void TForm1::CompleteExchange() {
  // The end of a search waited for the hand-over this completion brings.
  const bool waited = search_end_waits_;
  // Closing ends a read under way on the event thread; it hands nothing over. While
  // probes go out (the window's search, the survey's sweep) the port stays open, and the
  // survey's pace keeps it open after its own requests, so that an answer that comes
  // late is read; bytes that come with none in flight otherwise are closed on as the
  // window does, or a line that never falls silent would hold the survey for ever.
  const bool keep_open = pace_ != nullptr && request_in_flight_;
  // Whether the line went while the answer was awaited, asked before the close ends
  // the event thread that knows it.
  const DevError lost = request_in_flight_ ? ComPort1_->EventWaitFailure() : 0;
  if (!Probing() && !keep_open) ComPort1_->ClosePort();
  TeMemo1.SetFontColor(kLogOutcomeColor);
  // The probe to 248 failed: the window's search ends without a hit.
  const bool search_passed_247 =
      State.SessionMode == kSessionSearch && State.DeviceAddress > kHighestAddress;
  if (request_in_flight_) {
    CommDevice::NetworkFrames frames = ComPort1_->Device().LastNetworkFrames();
    exchange_.tcp_request = std::move(frames.sent);
    exchange_.tcp_answer = std::move(frames.received);
  }
  if (State.ReceivedCount != 0) {
    if (ValidateAnswer(State.FrameBuffer, State.ReceivedCount)) {
      LogResponse();  // shows the answer, then DispatchResponse
    } else if (!Probing()) {
      State.PendingOp = kOpFailed;
      LogResponse();  // the bytes the validator left
      AddOutcomeLine(msg::kCrcError, ExchangeOutcome::kCrcError);
    } else if (search_passed_247) {
      EndOfSearchUnlessAnswerComing(waited);
    }
  } else {
    if (!Probing()) {
      AddOutcomeLine(msg::kTimeOut, ExchangeOutcome::kTimeOut);  // below the "RX :" line
      // Through a Modbus TCP gateway, its word for the silence, so that nobody takes
      // the gateway's exception for the detector's own.
      exchange_.gateway_code = ComPort1_->Device().GatewayNoAnswerCode();
      if (exchange_.gateway_code != 0) TeMemo1.Add(GatewayNoAnswerLine(exchange_.gateway_code));
    } else if (search_passed_247)
      EndOfSearchUnlessAnswerComing(waited);
  }
  // Nothing, or part of an answer, came because the line went (a device gone, a
  // network line's connection dropped): the log shows what it always shows, and the
  // record says why, so that nobody takes it for the detector's silence.
  if (lost != 0 && (exchange_.outcome == ExchangeOutcome::kNone ||
                    exchange_.outcome == ExchangeOutcome::kTimeOut ||
                    exchange_.outcome == ExchangeOutcome::kCrcError)) {
    NoteLineLost(exchange_, lost);
    exchange_.failure_detail = ComPort1_->Device().LastProblem();
  }
  // The awaited answer was valid but no hit: the search ends all the same.
  if (waited && State.SessionMode == kSessionSearch) EndOfSearch();
  // A second close, which acts only when the answer or its absence has just ended a
  // search (a hit, or the end without one): the port stayed open during it.
  if (!Probing() && !keep_open) ComPort1_->ClosePort();
  // The second step of an interface reset without both steps confirmed: the PC port
  // goes back to the speed it had before the reset.
  if (State.PendingOp == kOpResetStep2 && State.ResetStepCount != 2)
    ComPort1_->SetBaudRate(State.SavedBaudRate);
  State.ReceivedCount = 0;
  State.PendingOp = kOpNone;
  State.QueryPending = 0;
  EndExchange(request_in_flight_ ? ExchangeRecord::End::kCompleted : ExchangeRecord::End::kIdle);
  // A deferred user action goes first; the sequence resumes after its exchange.
  if (State.ActionDeferred == 1) {
    State.ActionDeferred = 0;
    Timer_Wait.SetEnabled(true);
    return;
  }
  // A sequence's next step; not while the end of a search waits: there is no probe
  // after 248.
  if (State.SessionMode != kSessionIdle && !search_end_waits_) Timer_Programm.SetEnabled(true);
}

// --- observer -------------------------------------------------------------------

void TForm1::StartIdleExchange() {
  exchange_.request.clear();
  exchange_.port = ComPort1_->Port();
  exchange_.bit_rate = BaudRateToBits(ComPort1_->BaudRate());
  exchange_.started = env_.scheduler->Now();
}

void TForm1::EndExchange(ExchangeRecord::End end) {
  exchange_.end = end;
  exchange_.ended = env_.scheduler->Now();
  if (env_.exchange_observer != nullptr) {
    exchange_.log = TeMemo1.Lines();
    exchange_.outcome = EndedOutcome(exchange_.outcome, exchange_.AllBytes());
    env_.exchange_observer->ExchangeEnded(exchange_);
  }
  exchange_ = ExchangeRecord{};
  request_in_flight_ = false;
  paced_.reset();
}

}  // namespace ornat
