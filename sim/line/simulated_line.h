#pragma once
// SimulatedLine: simulated detectors on a serial line, behind a CommDevice, on the
// virtual clock of the unit tests. The window's real ComPort1 and its real event
// thread talk to it, and a request, its answer, a cyclic query or a whole bus
// search runs exactly, in virtual time, in milliseconds of real time.
//
// How it sits
//   TForm1 -> TComPort -> (RecordingCommDevice, in the tests) -> SimulatedLine. The line
//   is the port's device itself: its reads, queue counts and waits are the line's. To
//   see the calls the component makes, or to fail one on demand (FailNext("Open",
//   ENOENT) makes a failed send; FailNext("Read", EIO) a failed read), put a
//   RecordingCommDevice over it.
//
// What it models
//   - A Write is one request frame on the wire, 10 bits a byte at the bit rate the
//     port last set (SetLineSettings). When its last byte is in, the detectors of
//     the Bus hear it (sim/model/bus.h: addresses, foreign speeds, Faults) and the
//     answer comes back after the bus's turnaround, each byte arriving 10 bit times
//     after the previous one (ScheduleBytes). Several detectors at one address all
//     answer, their bytes ANDed where they overlap (ScheduleOnWire); a detector whose
//     answer is still under way does not hear the next request. Interface changes take
//     effect when the last byte of their echo is out. A scripted answer replaces the
//     detectors' for one request.
//   - The port's input queue: bytes that arrive while the port is open are queued,
//     bytes that arrive while it is closed are lost.
//   - The read semantics of the real port, on virtual time: EV_RXCHAR is raised when a
//     byte arrives while the event thread waits; a read takes what is queued and what
//     arrives while it runs, and returns when it has `count` bytes or
//     ReadIntervalTimeout after the last byte (plus the Win32 total timeout when
//     set); it waits for its first byte without end; MAXDWORD interval with zero
//     totals returns at once. A purge with PURGE_RXABORT ends it at once with
//     ECANCELED; HangUp fails waits and reads with EIO.
//
// Determinism (why the real event thread does not make virtual time racy)
//   All decisions are taken on the user-interface thread, in tasks of the virtual
//   clock. The event thread only ever blocks in two places, WaitEvent and Read, and
//   the line runs in lockstep with it: after raising an event, completing a read or
//   queueing a byte, the line waits (in real time, briefly) until the event thread
//   is parked again, in WaitEvent with no event pending or in Read with its request
//   taken in. A read request is taken in on the UI thread at the virtual instant its
//   event was raised, so the read limit is the one the handler read then. When a
//   read completes, the line waits for the thread to come back to WaitEvent (it has
//   posted its hand-over by then) and drains the QueueDispatcher at that same
//   virtual instant: the hand-over runs through the gate exactly when the read
//   returns, or, if a handler runs at that moment, right after it. A thread that does
//   not come back within a few seconds is reported in Errors() instead of hanging.
//
// Threads: construct, configure and inspect on the UI thread (the thread of the
// clock); the CommDevice calls come from the UI thread and the event thread, as
// the component makes them. The clock is touched only on the UI thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "model/bus.h"
#include "runtime/dispatcher.h"
#include "runtime/scheduler.h"
#include "serial/platform/locked_comm_device.h"

namespace ornat::sim {

enum class WireDirection { kToDetector, kFromDetector };

// One frame on the wire. Times are virtual (the clock's Now()), stamped when a
// byte's stop bit is in.
struct WireFrame {
  WireDirection direction = WireDirection::kToDetector;
  Micros first{0};  // the first byte
  Micros last{0};   // the last byte
  Bytes bytes;
  std::string note;  // the bus's note ("silent", "bad-crc", ...), "scripted", "injected"
};

// One read of the event thread, as the line carried it out.
struct ReadRecord {
  Micros begin{0};     // when the line took the request in
  Micros end{0};       // when it returned
  int limit = 0;       // the count asked for
  Bytes bytes;         // what it returned
  DevError error = 0;  // 0; ECANCELED when a purge (closing the port) ended it; EIO...
};

class SimulatedLine : public LockedCommDevice {
 public:
  // `clock`: the virtual clock of the UI thread. `ui_queue`: the dispatcher the event
  // thread posts its hand-overs to; the line drains it. Both outlive the line, and the
  // line outlives the port that uses it.
  SimulatedLine(Scheduler& clock, QueueDispatcher& ui_queue, BusOptions options = {});
  ~SimulatedLine() override;
  SimulatedLine(const SimulatedLine&) = delete;
  SimulatedLine& operator=(const SimulatedLine&) = delete;

  // --- the detectors ------------------------------------------------------------
  Bus& bus() { return bus_; }
  // Adds a detector as it leaves the factory at `address` (9600 bit/s); its index.
  std::size_t AddDetector(std::uint8_t address = kFactoryAddress, Faults faults = {});
  DetectorModel& detector(std::size_t index = 0) { return bus_.at(index).model; }
  Faults& faults(std::size_t index = 0) { return bus_.at(index).faults; }
  // Silence between a request's last byte and its answer's first (5 ms by default).
  void SetTurnaround(Micros t) { bus_.options().turnaround = t; }

  // --- bytes from elsewhere ----------------------------------------------------------
  // The next request is answered with exactly these bytes (no CRC added) after the
  // turnaround, in place of the detectors, which do not hear it. Queued: one per
  // request.
  void ScriptAnswer(Bytes bytes);
  // Puts bytes on the line toward the port, paced at the line rate, the first one
  // starting `after` from now (stray bytes, a late answer, noise in Idle).
  void Inject(Bytes bytes, Micros after = Micros(0));
  // Bytes that are in the port's input queue at this very instant, all of them at
  // once: the event thread is woken and its read begins before this returns. Called
  // from the write hook, it puts noise on the line while the request is being written.
  void ArriveNow(const Bytes& bytes);
  // The other end is gone: event waits and reads fail with EIO until the next Open.
  void HangUp();
  // fn(bytes) runs on every Write the line takes, before its bytes go on the wire.
  void SetWriteHook(std::function<void(const Bytes& bytes)> fn);

  // --- what happened -----------------------------------------------------------------
  std::vector<WireFrame> WireFrames() const;
  // The request frames, in order.
  std::vector<Bytes> Requests() const;
  // When each request went out (the Write call), in order.
  std::vector<Micros> RequestTimes() const;
  std::vector<ReadRecord> Reads() const;
  // Bytes that arrived while the port was closed (or the line hung up).
  std::size_t LostBytes() const;
  // Bytes queued and not yet read.
  std::size_t QueuedBytes() const;
  // Lockstep failures (an event thread that did not come back). Empty when sound.
  std::vector<std::string> Errors() const;
  // Forgets the wire frames, reads and request times so far (a long run that checks
  // its memory keeps none of them).
  void ClearHistory();
  // The time of 10 bits at the port's current bit rate.
  Micros ByteTime() const;

  // --- CommDevice -------------------------------------------------------------------
  DevError Open(const std::string& port) override;
  DevError Close() override;
  IoResult Read(void* buffer, int count) override;
  IoResult Write(const void* buffer, int count) override;
  DevError ClearError(std::uint32_t& errors, std::uint32_t& in_queue) override;
  DevError GetModemStatus(std::uint32_t& status) override;
  DevError Purge(std::uint32_t flags) override;

 private:
  enum class ReadPhase {
    kNone,        // no read
    kAsked,       // the event thread asks; the UI side has not taken it in
    kCollecting,  // taken in, waiting for bytes or its timeout
    kDone,        // finished; the event thread has not picked the result up
  };
  using Lock = std::unique_lock<std::mutex>;

  // The event thread's wait ends on EV_RXCHAR, raised when a byte arrives while it waits.
  std::uint32_t TakeEventLocked() override;
  bool OnUiThread() const { return std::this_thread::get_id() == ui_thread_; }
  // Lockstep: waits until the event thread is parked (see the header comment),
  // taking read requests in as they come. UI thread, lock held.
  void Settle(Lock& lock);
  bool Parked() const;
  bool ThreadExpected() const { return open_ && event_mask_ != 0; }
  // Settles, then runs what the event thread posted. UI thread, lock not held.
  void SettleAndDrain();
  // Lock held, UI thread.
  void BeginRead();
  void TakeQueued();
  void ScheduleReadCompletion();
  void CompleteRead(DevError error);
  void OnReadTimeout(std::uint64_t generation);
  void OnRequestHeard(const Bytes& request, std::uint32_t bit_rate);
  void SchedulePaced(const std::vector<TimedByte>& bytes, const Reply* reply);
  void OnByteArrival(std::uint8_t byte);
  // Bytes that reach the port's queue at one instant, in one go.
  void OnArrival(const Bytes& bytes);

  Scheduler& clock_;
  QueueDispatcher& ui_queue_;
  const std::thread::id ui_thread_;
  Bus bus_;                            // UI thread only
  std::deque<Bytes> scripted_;         // UI thread only
  std::vector<Micros> request_times_;  // UI thread only
  // Until when each detector is answering (its last byte on the wire); UI thread only.
  std::vector<Micros> busy_until_;
  std::function<void(const Bytes&)> write_hook_;  // UI thread only

  // --- guarded by mutex_ (with the state of LockedCommDevice) ---
  std::deque<std::pair<std::uint8_t, Micros>> queue_;
  bool rx_event_ = false;  // EV_RXCHAR raised, not yet taken by WaitEvent
  ReadPhase phase_ = ReadPhase::kNone;
  int read_count_ = 0;
  Bytes read_bytes_;
  DevError read_error_ = 0;
  Micros read_begin_{0};
  Micros read_last_byte_{0};
  std::uint64_t read_generation_ = 0;  // stale completion tasks check it
  Scheduler::TaskId read_task_ = 0;
  std::vector<DevError> failed_reads_;  // reads of a closed port, not yet recorded
  std::vector<WireFrame> wire_;
  std::vector<ReadRecord> reads_;
  std::size_t lost_ = 0;
  std::vector<std::string> errors_;
  bool broken_ = false;  // a settle timed out: later waits are short
};

}  // namespace ornat::sim
