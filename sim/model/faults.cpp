#include "model/faults.h"

#include <algorithm>

namespace ornat::sim {
namespace {

constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

bool IsParameterQuery(std::span<const std::uint8_t> request) {
  // Read of 8 registers from register 0, whatever the address.
  return request.size() == kRequestLength && request[1] == kReadHoldingRegisters &&
         request[2] == 0 && request[3] == 0 && request[4] == 0 && request[5] == 8;
}

}  // namespace

Bytes Reply::AllBytes() const {
  Bytes out;
  for (const ReplyChunk& c : chunks) out.insert(out.end(), c.bytes.begin(), c.bytes.end());
  return out;
}

std::vector<std::size_t> Reply::Answering() const {
  std::vector<std::size_t> out;
  if (detector) out.push_back(*detector);
  for (const Reply& r : also)
    if (r.detector) out.push_back(*r.detector);
  return out;
}

std::chrono::nanoseconds ByteDuration(std::uint32_t bit_rate) {
  if (bit_rate == 0) bit_rate = 9600;
  return std::chrono::nanoseconds(std::int64_t{kBitsPerByte} * 1'000'000'000 / bit_rate);
}

std::vector<TimedByte> ScheduleBytes(const Reply& reply, std::uint32_t bit_rate) {
  // Counted in whole bit times from the end of the request, then converted, so long
  // answers at odd rates do not accumulate rounding.
  if (bit_rate == 0) bit_rate = 9600;
  std::vector<TimedByte> out;
  std::chrono::nanoseconds chunk_start{0};
  std::int64_t bits = 0;
  for (const ReplyChunk& chunk : reply.chunks) {
    chunk_start += chunk.silence_before;
    bits = 0;
    for (std::uint8_t b : chunk.bytes) {
      if (!reply.unpaced) bits += kBitsPerByte;
      out.push_back({chunk_start + std::chrono::nanoseconds(bits * 1'000'000'000 / bit_rate), b});
    }
    chunk_start += std::chrono::nanoseconds(bits * 1'000'000'000 / bit_rate);
  }
  return out;
}

std::vector<TimedByte> ScheduleOnWire(const Reply& reply, std::uint32_t bit_rate, bool* collided) {
  std::vector<TimedByte> wire = ScheduleBytes(reply, bit_rate);
  const std::chrono::nanoseconds byte_time = ByteDuration(bit_rate);
  bool anded = false;
  for (const Reply& other : reply.also) {
    // Each byte already on the wire takes at most one of the other reply's bytes.
    std::vector<bool> taken(wire.size(), false);
    std::vector<TimedByte> apart;
    for (const TimedByte& b : ScheduleBytes(other, bit_rate)) {
      std::size_t k = 0;
      while (k < wire.size() &&
             (taken[k] || wire[k].at - b.at >= byte_time || b.at - wire[k].at >= byte_time))
        ++k;
      if (k == wire.size()) {
        apart.push_back(b);
        continue;
      }
      taken[k] = true;
      wire[k].byte &= b.byte;
      wire[k].at = std::max(wire[k].at, b.at);
      anded = true;
    }
    wire.insert(wire.end(), apart.begin(), apart.end());
    std::stable_sort(wire.begin(), wire.end(),
                     [](const TimedByte& x, const TimedByte& y) { return x.at < y.at; });
  }
  if (collided != nullptr) *collided = anded;
  return wire;
}

std::chrono::nanoseconds AdapterDelivery(std::chrono::nanoseconds on_line,
                                         std::chrono::milliseconds latency) {
  if (latency.count() <= 0 || on_line.count() <= 0) return on_line;
  const std::chrono::nanoseconds period = latency;
  const auto bursts = (on_line.count() + period.count() - 1) / period.count();
  return std::chrono::nanoseconds(bursts * period.count());
}

Bytes TruncateReadAnswer(const Bytes& answer, std::uint16_t registers) {
  if (answer.size() < 5 || answer[1] != kReadHoldingRegisters) return answer;
  const std::size_t have = answer[2] / 2u;
  if (registers >= have) return answer;
  Bytes out{answer[0], answer[1], static_cast<std::uint8_t>(2 * registers)};
  out.insert(out.end(), answer.begin() + 3, answer.begin() + 3 + 2 * registers);
  AppendCrc(out);
  return out;
}

Reply Respond(DetectorModel& model, std::span<const std::uint8_t> request, const Faults& faults,
              std::chrono::microseconds turnaround, std::mt19937& rng) {
  Reply reply;
  reply.unpaced = faults.unpaced;
  reply.adapter_latency = faults.adapter_latency;
  if (faults.silent) {
    reply.note = "silent";
    return reply;
  }
  const bool addressed = HasGoodCrc(request) && request[0] == model.address();
  Answer answer;
  if (faults.forced_exception && addressed) {
    answer.bytes = ExceptionAnswer(request[0], request[1], *faults.forced_exception);
  } else {
    answer = model.HandleFrame(request);
  }
  if (!answer.change.empty()) reply.commits.push_back({0, answer.change});
  if (answer.bytes.empty()) return reply;

  Bytes body(faults.stray_bytes, faults.stray_value);
  Bytes frame = answer.bytes;
  if (faults.query_registers < 8 && IsParameterQuery(request)) {
    frame = TruncateReadAnswer(frame, faults.query_registers);
  }
  if (faults.answer_from && frame.size() >= 4) {
    frame.resize(frame.size() - 2);
    frame[0] = *faults.answer_from;
    AppendCrc(frame);
  }
  if (faults.bad_crc_probability > 0.0) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (faults.bad_crc_probability >= 1.0 || chance(rng) < faults.bad_crc_probability) {
      // Inverting the high CRC byte always yields a CRC that does not fit.
      frame.back() = static_cast<std::uint8_t>(~frame.back());
      reply.note = "bad-crc";
    }
  }
  body.insert(body.end(), frame.begin(), frame.end());
  body.insert(body.end(), faults.trailing_bytes, faults.trailing_value);

  std::chrono::microseconds silence = turnaround + faults.extra_delay;
  if (faults.echo_request) {
    // The adapter's echo comes back as the request goes out, before the turnaround.
    reply.chunks.push_back({std::chrono::microseconds{0}, Bytes(request.begin(), request.end())});
  }
  const std::size_t split = std::min(faults.pause_after.value_or(body.size() / 2), body.size());
  if (faults.pause.count() > 0 && split > 0 && split < body.size()) {
    reply.chunks.push_back({silence, Bytes(body.begin(), body.begin() + split)});
    reply.chunks.push_back({faults.pause, Bytes(body.begin() + split, body.end())});
  } else {
    reply.chunks.push_back({silence, body});
  }
  reply.detector = 0;
  return reply;
}

}  // namespace ornat::sim
