#pragma once
// NetworkCommDevice: CommDevice over a TCP connection to a serial device server or a
// Modbus TCP gateway, for the port names tcp://, rfc2217:// and modbus-tcp://
// (port_url.h). The component opens the port for every exchange, as it does a local
// port; the device answers as a pseudo-terminal does, so that nothing above it changes.
//
// - Open connects (the name resolved within 2 s, the connect within 3 s: net_connect.h)
//   or takes back the connection the last Close kept: device servers often take one
//   client at a time and are slow to accept a new one. A kept connection is closed when
//   the next Open names another line, when the server drops it, and after kIdleClose
//   without an Open. Bytes that came while the port was closed are dropped at the
//   Open, as a local port's purge drops them.
// - A refused, unreachable or unresolvable server fails Open with the platform's error
//   number (ECONNREFUSED, ETIMEDOUT, EHOSTUNREACH; WSAE* on Windows); a malformed URL
//   with EINVAL (ERROR_INVALID_NAME). LastProblem() says what happened in a sentence.
// - A connection the server drops while the port is open fails the pending read and
//   event wait with ECONNRESET (or the system's number), which the component takes as a
//   device that went, as an unplugged adapter.
// - One thread per connection reads the socket (blocking recv, ended by shutdown) and
//   queues the line's bytes; Read and WaitEvent wait on that queue under the read plan's
//   rules (read_plan.h), woken by the stop signal, a purge with abort or a Close.
// - ClearError and GetModemStatus answer as a pty: no line errors, no modem lines.
// - tcp://: the bytes both ways as they are.
// - rfc2217://: Telnet COM Port Control through ComPortClient. Open negotiates the
//   option (a refusal fails Open with EPROTONOSUPPORT); SetLineSettings sends the
//   speed, data bits, parity and stop bits between two exchanges and waits for each
//   acknowledgement (kAckLimit): a refusal, no acknowledgement or one of another value
//   fails it (EINVAL, ETIMEDOUT), never a silent mismatch. Settings the connection has
//   had acknowledged already are not sent again.
// - modbus-tcp://: each Write is one RTU request, sent as MBAP + PDU (mbap.h); the
//   gateway's answer to that transaction comes back to Read as the detector's RTU
//   frame. The gateway's exceptions 0x0A/0x0B deliver nothing (the detector did not
//   answer): GatewayNoAnswerCode() keeps the code until the next Write.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/network/net_syscalls.h"
#include "serial/platform/comm_device.h"

namespace ornat {

class NetworkCommDevice : public CommDevice {
 public:
  // A kept connection is closed after this long without an Open.
  static constexpr std::chrono::milliseconds kIdleClose{3000};
  // How long the server has to acknowledge a line setting or the RFC 2217 option.
  static constexpr std::chrono::milliseconds kAckLimit{2000};

  explicit NetworkCommDevice(const NetSyscalls& sys = NetSyscalls::Real());
  ~NetworkCommDevice() override;
  NetworkCommDevice(const NetworkCommDevice&) = delete;
  NetworkCommDevice& operator=(const NetworkCommDevice&) = delete;

  DevError Open(const std::string& port) override;
  bool IsOpen() const override;
  DevError Close() override;
  DevError SetupQueues(int input_size, int output_size) override;
  DevError SetLineSettings(const LineSettings& settings) override;
  DevError SetTimeouts(const CommTimeouts& timeouts) override;
  DevError SetEventMask(std::uint32_t mask) override;
  std::unique_ptr<CommStopSignal> CreateStopSignal() override;
  WaitResult WaitEvent(CommStopSignal& stop) override;
  IoResult Read(void* buffer, int count) override;
  IoResult Write(const void* buffer, int count) override;
  DevError ClearError(std::uint32_t& errors, std::uint32_t& in_queue) override;
  DevError GetModemStatus(std::uint32_t& status) override;
  DevError Purge(std::uint32_t flags) override;

  // What the last failure was, in a sentence ("the server acknowledged SET-BAUDRATE
  // 9600, not 14400"); empty when nothing failed since the last Open.
  std::string LastProblem() const override;
  // modbus-tcp: the gateway's exception code (0x0A, 0x0B) that answered the last
  // request in place of the detector, kept until the next Write; 0 when none did.
  std::uint8_t GatewayNoAnswerCode() const override;
  NetworkFrames LastNetworkFrames() const override;
  // True while a connection is kept (open, or closed and kept for reuse).
  bool HoldsConnection() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace ornat
