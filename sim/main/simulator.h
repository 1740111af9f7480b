#pragma once
// Simulator: the program's loop. One poll waits on the signals, the console, the line
// and the pty's opens and closes, and wakes when the next answer byte, noise burst or
// end of a request's frame is due. Requests are cut from the line by their silences
// (model/frame_assembler.h), answered by the bus of detectors (model/bus.h) and paced
// onto the wire at the master's bit rate; every frame goes to the wire log.
//
// simulator.cpp: the start, the loop and what comes in from the master;
// transmissions.cpp: the answers and the noise on their way out, and the address and
// speed changes that take effect once an answer is out; gateway.cpp: the Modbus TCP
// gateway of --listen modbus-tcp://, whose serial side the detectors answer on.

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "console_io.h"
#include "line_end.h"
#include "model/bus.h"
#include "model/frame_assembler.h"
#include "model/modbus_tcp_gateway.h"
#include "options.h"
#include "port_registry.h"
#include "wire_log.h"

namespace ornat::sim {

class Simulator {
 public:
  using Clock = std::chrono::steady_clock;

  Simulator(const Options& o, Bus& bus)
      : o_(o), bus_(bus), console_(bus, o.console), t0_(Clock::now()), log_(t0_) {}
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens everything; returns false (message printed) on failure.
  bool Start();
  // Runs until quit, a signal, end of stdin or a lost device; returns the exit code.
  int Run();

 private:
  // One request's answer on its way out: every detector that answers it, on one wire.
  struct Transmission {
    Reply reply;
    std::vector<TimedByte> schedule;
    Clock::time_point origin;  // end of the request
    std::size_t next = 0;
    Bytes sent;
    std::optional<Clock::time_point> first_out;
    Clock::time_point last_out;
    std::string note;
    // Through the gateway: the request it answers, and whether it has given up
    // waiting (the answer then ends on its serial side).
    std::optional<GatewayRequest> gateway;
    bool gave_up = false;
  };
  // An MBAP answer the gateway sends when it is due.
  struct GatewayWrite {
    Clock::time_point at;
    Bytes bytes;
    std::string event;  // for the wire log; empty: none
  };

  std::chrono::nanoseconds Since0(Clock::time_point t) const { return t - t0_; }
  // Reads what the line holds; false when it reports a hangup (pty) or is gone.
  bool ReadLine(Clock::time_point now);
  void OnBytes(std::span<const std::uint8_t> bytes, Clock::time_point now);
  void OnEvents(const std::vector<FrameAssembler::Event>& events);
  // A whole request frame heard at `at`: the bus answers it, on the wire or (with
  // `gateway`) on the gateway's serial side.
  void HandleRequest(const Bytes& frame, Clock::time_point at,
                     std::optional<GatewayRequest> gateway);
  bool gateway() const { return o_.listen && o_.listen->scheme == NetScheme::kModbusTcp; }
  void OnGatewayBytes(std::span<const std::uint8_t> bytes, Clock::time_point now);
  void ServiceGatewayTransmissions(Clock::time_point now);
  void ServiceGatewayWrites(Clock::time_point now);
  // Sends the requests queued for the serial side while it is free.
  void ServiceGatewayQueue(Clock::time_point now);
  bool GatewayBusy(Clock::time_point now) const;
  // The gateway answers `request` with exception 0x0B at `at`: no answer came.
  void GatewayGivesUp(const GatewayRequest& request, Clock::time_point at);
  // The TCP client has left: what was meant for it is dropped.
  void OnClientGone();
  void CheckPeer(Clock::time_point now);
  void ReadPortEvents(Clock::time_point now);

  void ServiceTransmissions(Clock::time_point now);
  void FinishTransmission(std::size_t index, const std::string& extra_note);
  // True while an answer's bytes are on the wire (or the line settles after one): the
  // half-duplex line cannot carry a request then.
  bool AnswerOnTheWire(Clock::time_point at) const;
  std::vector<bool> BusyDetectors() const;
  void ServiceNoise(Clock::time_point now);
  void ApplyCommits(const Reply& reply, Clock::time_point at);

  const Options& o_;
  Bus& bus_;
  ConsoleInput console_;
  Clock::time_point t0_;
  WireLog log_;
  PortRegistration registration_;
  FrameAssembler assembler_;
  // After the registration: closed before it is removed, as the program ends.
  LineEnd line_;

  int signal_fd_ = -1;
  bool peer_open_ = false;
  // Answers under way, oldest first: one detector may still wait out its delay while
  // another, asked later, answers.
  std::vector<Transmission> tx_;
  Clock::time_point deaf_until_{};
  std::optional<Clock::time_point> next_noise_;
  MbapRequestReader mbap_;
  std::vector<GatewayWrite> gateway_out_;
  std::deque<GatewayRequest> gateway_queue_;
  bool quit_ = false;
  int exit_code_ = 0;
};

}  // namespace ornat::sim
