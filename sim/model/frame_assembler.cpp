#include "model/frame_assembler.h"

#include <algorithm>

#include "modbus/protocol.h"

namespace ornat::sim {

std::chrono::nanoseconds FrameAssembler::GapForBitRate(std::uint32_t bit_rate) {
  if (bit_rate == 0) bit_rate = 9600;
  // 3.5 characters of 10 bits = 35 bit times.
  const std::chrono::nanoseconds chars(std::int64_t{35} * 1'000'000'000 / bit_rate);
  return std::max(chars, std::chrono::nanoseconds(1'750'000));
}

std::vector<FrameAssembler::Event> FrameAssembler::Feed(std::span<const std::uint8_t> bytes,
                                                        std::chrono::nanoseconds now) {
  std::vector<Event> out;
  if (!buffer_.empty() && now - last_ >= gap_) EndBurst(out);
  for (std::uint8_t b : bytes) {
    buffer_.push_back(b);
    last_ = now;
    if (buffer_.size() >= kRequestLength && HasGoodCrc(std::span(buffer_).last(kRequestLength))) {
      const auto frame_start = buffer_.end() - kRequestLength;
      if (frame_start != buffer_.begin()) {
        out.push_back({Event::Kind::kNoise, Bytes(buffer_.begin(), frame_start), now});
      }
      out.push_back({Event::Kind::kFrame, Bytes(frame_start, buffer_.end()), now});
      buffer_.clear();
    } else if (buffer_.size() >= kMostPending) {
      // A stream that never forms a frame: report all but the bytes that could still
      // begin one.
      const auto keep = buffer_.end() - (kRequestLength - 1);
      out.push_back({Event::Kind::kNoise, Bytes(buffer_.begin(), keep), now});
      buffer_.erase(buffer_.begin(), keep);
    }
  }
  return out;
}

std::vector<FrameAssembler::Event> FrameAssembler::Poll(std::chrono::nanoseconds now) {
  std::vector<Event> out;
  if (!buffer_.empty() && now - last_ >= gap_) EndBurst(out);
  return out;
}

std::optional<std::chrono::nanoseconds> FrameAssembler::Deadline() const {
  if (buffer_.empty()) return std::nullopt;
  return last_ + gap_;
}

std::vector<FrameAssembler::Event> FrameAssembler::Flush() {
  std::vector<Event> out;
  if (!buffer_.empty()) out.push_back({Event::Kind::kNoise, buffer_, last_});
  buffer_.clear();
  return out;
}

void FrameAssembler::EndBurst(std::vector<Event>& out) {
  const Event::Kind kind = HasGoodCrc(buffer_) ? Event::Kind::kFrame : Event::Kind::kNoise;
  out.push_back({kind, buffer_, last_});
  buffer_.clear();
}

}  // namespace ornat::sim
