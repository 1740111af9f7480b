#pragma once
// The wire log: one line per frame in either direction, with times in microseconds
// since the simulator started (three decimals, so nanoseconds):
//
//   # ornat-sim wire log; t0 = CLOCK_MONOTONIC 8412.123456789 s
//   1534.250 RX F7 03 00 00 00 08 50 9A
//   6570.114 TX F7 03 10 00 10 ... 4C 21 last=27406.702
//   812345.001 RX 01 02 03 note=noise
//
// RX: bytes from the master, stamped when the frame's last byte was read. TX: bytes to
// the master, stamped when the first byte went out, with `last=` the moment the last
// byte went out. `note=` explains a frame that was not answered normally. EV lines
// record interface changes and the master opening or closing the port.

#include <chrono>
#include <cstdio>
#include <span>
#include <string>

namespace ornat::sim {

class WireLog {
 public:
  using Clock = std::chrono::steady_clock;

  explicit WireLog(Clock::time_point t0) : t0_(t0) {}
  WireLog(const WireLog&) = delete;
  WireLog& operator=(const WireLog&) = delete;
  ~WireLog();

  // Opens (truncates) `path`; false with `error` set on failure.
  bool Open(const std::string& path, std::string& error);
  bool is_open() const { return file_ != nullptr; }

  void Rx(Clock::time_point at, std::span<const std::uint8_t> bytes, const std::string& note);
  void Tx(Clock::time_point first, Clock::time_point last, std::span<const std::uint8_t> bytes,
          const std::string& note);
  void Event(Clock::time_point at, const std::string& text);

  // "1534.250": microseconds since t0 with three decimals.
  std::string Stamp(Clock::time_point at) const;

 private:
  void Line(Clock::time_point at, const char* dir, std::span<const std::uint8_t> bytes,
            const std::string& tail);

  Clock::time_point t0_;
  std::FILE* file_ = nullptr;
};

}  // namespace ornat::sim
