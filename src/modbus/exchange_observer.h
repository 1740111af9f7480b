#pragma once
// Observers of the exchange engine: whoever keeps a record of what went over the line
// (the journal) or drives the window from outside (the survey, ornat-cli) is told of
// every exchange as it ends. The engine calls its observer at the end of every
// completion and for a send that failed; it never changes what the log pane shows.

#include <cstdint>
#include <string>
#include <vector>

#include "modbus/exchange_outcome.h"
#include "runtime/scheduler.h"
#include "serial/platform/comm_device.h"

namespace ornat {

// Which sender built the request: the two write senders differ only in whose address
// byte 0 holds (DeviceAddress, or the interface reset's fixed 247).
enum class ExchangeSender : std::uint8_t { kRead, kWrite, kWriteToFixedAddress };

struct ExchangeRecord {
  enum class End : std::uint8_t {
    kCompleted,   // Timer_RxTimer ran for a request that was sent
    kSendFailed,  // the port could not be opened or written: no completion follows
    kIdle,        // a completion of bytes handed over with no request in flight
    kSuperseded,  // another request went out before this one's completion
  };
  End end = End::kCompleted;
  ExchangeSender sender = ExchangeSender::kRead;
  // The bus search was running when the request went out (a probe).
  bool searching = false;
  // The 8 request bytes as written; empty for kIdle.
  std::vector<std::uint8_t> request;
  // Every hand-over of this exchange, as read, in order. The completion judged the
  // last one (each read replaces the previous one in FrameBuffer).
  std::vector<std::vector<std::uint8_t>> reads;
  std::string port;
  // The PC port's bit rate when the request went out (or the first byte came in).
  int bit_rate = 0;
  // Scheduler times: the write (or the first hand-over, for kIdle) and the end.
  Micros started{0};
  Micros ended{0};
  // The log pane's lines when the exchange ended, as it shows them.
  std::vector<std::string> log;
  // What the exchange came to: the worst outcome the engine and the dispatcher noted as
  // they added its message lines, or kSeveralDevices from its bytes (EndedOutcome), set
  // as it ends.
  ExchangeOutcome outcome = ExchangeOutcome::kNone;
  // kSendFailed: why the port could not be opened or written (the log line names
  // only the port).
  std::string failure;
  // kSendFailed by the port: its error code (1 open, 2 write, ...), the system's error
  // number (0: none) and the programs found holding the port.
  int failure_code = 0;
  int failure_errno = 0;
  std::vector<PortHolder> failure_holders;
  // The device's own sentence for the failure (CommDevice::LastProblem: a network
  // line's), or empty.
  std::string failure_detail;
  // A time-out through a Modbus TCP gateway: the gateway's exception code that said the
  // detector did not answer (0x0A, 0x0B); 0 otherwise.
  std::uint8_t gateway_code = 0;
  // Through a Modbus TCP gateway: the MBAP frames the network carried for the request
  // and its answer (CommDevice::LastNetworkFrames); empty on every other line.
  std::vector<std::uint8_t> tcp_request, tcp_answer;

  // The port failed it: its send could not open or write the port, or the line went
  // while its answer was awaited (the device gone, the connection dropped).
  bool PortFailed() const {
    return end == End::kSendFailed || outcome == ExchangeOutcome::kPortError;
  }
  // The bytes the completion judged (the last read); empty when nothing came.
  const std::vector<std::uint8_t>& Answer() const;
  // Every byte handed over, in order.
  std::vector<std::uint8_t> AllBytes() const;
};

class ExchangeObserver {
 public:
  virtual ~ExchangeObserver() = default;
  // On the user-interface thread, inside the handler that ended the exchange (the
  // completion or the sender): an observer that wants to act on the window posts its
  // action through the HandlerGate, which runs it right after that handler returns.
  // Must not throw.
  virtual void ExchangeEnded(const ExchangeRecord& record) = 0;
};

// Several observers behind the one the window is given, told in the order added.
class ExchangeObserverList : public ExchangeObserver {
 public:
  void Add(ExchangeObserver* observer);
  void Remove(ExchangeObserver* observer);
  void ExchangeEnded(const ExchangeRecord& record) override;

 private:
  std::vector<ExchangeObserver*> observers_;
};

// The operation a request stands for, named after what the window does with it:
// "query", "probe", "service-read", "address", "baud", "reset-step-1",
// "reset-step-2", "tactic", "latching", "alarm-reset", "test"; "read" or "write" for
// anything else; "idle" for bytes that came with no request; "none" for a send that
// failed before any request was made (ornat-cli refused the line by another program).
std::string OperationName(const ExchangeRecord& record);

}  // namespace ornat
