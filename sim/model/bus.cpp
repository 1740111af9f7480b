#include "model/bus.h"

#include <cstdlib>

namespace ornat::sim {

bool SameLineSpeed(std::uint32_t detector_rate, std::uint32_t line_rate) {
  // A UART samples mid-bit; over the 10 bits of a byte it tolerates about 2 % of error.
  const auto diff = std::llabs(static_cast<long long>(detector_rate) - line_rate);
  return diff * 50 <= static_cast<long long>(detector_rate);
}

Bus::Bus(BusOptions options) : options_(options), rng_(options.seed) {}

std::size_t Bus::Add(DetectorModel model, Faults faults) {
  detectors_.push_back({std::move(model), faults});
  return detectors_.size() - 1;
}

std::optional<std::size_t> Bus::Find(std::uint8_t address) const {
  for (std::size_t i = 0; i < detectors_.size(); ++i) {
    if (detectors_[i].model.address() == address) return i;
  }
  return std::nullopt;
}

Reply Bus::HandleFrame(std::span<const std::uint8_t> frame, std::uint32_t line_bit_rate,
                       const std::vector<bool>& busy) {
  Reply out;
  if (!HasGoodCrc(frame)) {
    out.note = "bad-crc-request";
    return out;
  }
  const std::uint8_t to = frame[0];
  bool addressed_any = false;
  for (std::size_t i = 0; i < detectors_.size(); ++i) {
    Detector& d = detectors_[i];
    const bool addressed = to == 0 || to == d.model.address();
    if (!addressed) continue;
    addressed_any = true;
    if (i < busy.size() && busy[i]) {
      if (out.note.empty()) out.note = "busy";
      continue;
    }
    if (line_bit_rate != 0 && !SameLineSpeed(d.model.bit_rate(), line_bit_rate)) {
      if (out.note.empty()) out.note = "foreign-speed";
      if (options_.garble_foreign_speed && to != 0 && !out.detector && !d.faults.silent) {
        std::uniform_int_distribution<int> byte(0, 255);
        Bytes noise(8);
        for (auto& b : noise) b = static_cast<std::uint8_t>(byte(rng_));
        out.chunks.push_back({options_.turnaround, noise});
        out.detector = i;
        out.note = "garbled";
        out.adapter_latency = d.faults.adapter_latency;
      }
      continue;
    }
    Reply r = Respond(d.model, frame, d.faults, options_.turnaround, rng_);
    for (Commit c : r.commits) {
      c.detector = i;
      out.commits.push_back(c);
    }
    if (r.silent()) {
      if (out.note.empty()) out.note = r.note;
      continue;
    }
    if (out.detector) {
      // A second detector at the same address answers too.
      r.detector = i;
      r.commits.clear();
      out.also.push_back(std::move(r));
      continue;
    }
    out.chunks = std::move(r.chunks);
    out.unpaced = r.unpaced;
    out.adapter_latency = r.adapter_latency;
    out.detector = i;
    out.note = r.note;
  }
  if (!addressed_any) out.note = "not-addressed";
  if (to == 0 && out.note.empty()) out.note = "broadcast";
  return out;
}

void Bus::CommitAfterAnswer(const Reply& reply) {
  for (const Commit& c : reply.commits) {
    if (c.detector < detectors_.size()) detectors_[c.detector].model.CommitAfterAnswer(c.change);
  }
}

}  // namespace ornat::sim
