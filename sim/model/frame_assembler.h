#pragma once
// Cuts the byte stream a slave hears into request frames.
//
// A burst is the bytes received without a silence of `gap` between them (3.5 character
// times on Modbus RTU). Inside a burst, as soon as the last 8 bytes carry a good CRC
// they are taken as a request (function 3 and 6 requests are 8 bytes), and the bytes
// before them are reported as noise. When the line falls silent for `gap`, what is left
// of the burst is a frame if its CRC fits as a whole (a request of another length, such
// as function 16) and noise otherwise. Times are those of the caller's clock.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "model/modbus_crc.h"

namespace ornat::sim {

class FrameAssembler {
 public:
  struct Event {
    enum class Kind { kFrame, kNoise };
    Kind kind = Kind::kNoise;
    Bytes bytes;
    std::chrono::nanoseconds at{0};  // arrival of the event's last byte
    bool operator==(const Event&) const = default;
  };

  // The silence that ends a burst at `bit_rate`: 3.5 characters of 10 bits, and no less
  // than 1.75 ms, the fixed value Modbus uses above 19200 bit/s.
  static std::chrono::nanoseconds GapForBitRate(std::uint32_t bit_rate);

  explicit FrameAssembler(std::chrono::nanoseconds gap = GapForBitRate(9600)) : gap_(gap) {}
  void set_gap(std::chrono::nanoseconds gap) { gap_ = gap; }
  std::chrono::nanoseconds gap() const { return gap_; }

  // Takes bytes that arrived at `now` (non-decreasing). Returns the frames and noise
  // they complete, in order; a silence of `gap` since the previous bytes first ends
  // the burst before.
  std::vector<Event> Feed(std::span<const std::uint8_t> bytes, std::chrono::nanoseconds now);

  // Ends the burst when the line has been silent for `gap` at `now`; returns what it
  // held. Call it once Deadline() has passed.
  std::vector<Event> Poll(std::chrono::nanoseconds now);

  // When the pending bytes become a burst of their own; nullopt when none are pending.
  std::optional<std::chrono::nanoseconds> Deadline() const;

  // Drops the pending bytes, reporting them as noise.
  std::vector<Event> Flush();

  std::size_t pending() const { return buffer_.size(); }

 private:
  void EndBurst(std::vector<Event>& out);

  static constexpr std::size_t kMostPending = 256;

  std::chrono::nanoseconds gap_;
  Bytes buffer_;
  std::chrono::nanoseconds last_{0};
};

}  // namespace ornat::sim
