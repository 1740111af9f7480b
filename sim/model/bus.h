#pragma once
// Several simulated detectors on one RS-485 line. A request heard on the line is offered
// to every detector; the one it is addressed to answers, and should several share that
// address each of them answers: their answers meet on the wire (ScheduleOnWire, in
// faults.h), whole one after the other or, where they overlap, as bytes ANDed, as two
// RS-485 drivers pulling one pair of wires give them. A broadcast is carried out by all
// and answered by none. A detector whose answer to an earlier request is still under
// way (busy) does not hear the next one; the others do.
//
// Line speed: a detector understands only requests sent at its own line speed (within
// 2 %, as a UART would). At any other speed it hears noise: it drops the frame, or with
// `garble_foreign_speed` answers 8 random bytes if the frame was addressed to it, the
// way a detector at the wrong speed fills the line with garbage on a real installation.

#include <chrono>
#include <cstdint>
#include <deque>
#include <random>
#include <span>

#include "model/detector_model.h"
#include "model/faults.h"

namespace ornat::sim {

struct BusOptions {
  // Silence between the end of a request and the first byte of its answer.
  std::chrono::microseconds turnaround{5000};
  bool garble_foreign_speed = false;
  std::uint32_t seed = 0x0A329;  // of the random choices (bad-CRC chance, garbage)
};

class Bus {
 public:
  struct Detector {
    DetectorModel model;
    Faults faults;
  };

  explicit Bus(BusOptions options = {});

  // Adds a detector; returns its index. References to detectors stay valid as more are
  // added.
  std::size_t Add(DetectorModel model, Faults faults = {});
  std::size_t size() const { return detectors_.size(); }
  Detector& at(std::size_t index) { return detectors_.at(index); }
  const Detector& at(std::size_t index) const { return detectors_.at(index); }
  // The index of the first detector at `address`, if any.
  std::optional<std::size_t> Find(std::uint8_t address) const;

  BusOptions& options() { return options_; }
  const BusOptions& options() const { return options_; }
  std::mt19937& rng() { return rng_; }

  // Offers one request frame (CRC included) that the master sent at `line_bit_rate`
  // (0: the speed is not modelled and every detector hears it). Returns what comes back
  // (the first answering detector's reply, the others' in Reply::also) and the interface
  // changes to commit once it is out. busy[i]: detector i is still answering an earlier
  // request and does not hear this one (missing entries: not busy).
  Reply HandleFrame(std::span<const std::uint8_t> frame, std::uint32_t line_bit_rate,
                    const std::vector<bool>& busy = {});

  // Applies the commits of `reply`: call when its last byte is out (at once when it is
  // silent).
  void CommitAfterAnswer(const Reply& reply);

 private:
  BusOptions options_;
  std::mt19937 rng_;
  std::deque<Detector> detectors_;
};

// True when a UART at `detector_rate` reads bytes sent at `line_rate` correctly.
bool SameLineSpeed(std::uint32_t detector_rate, std::uint32_t line_rate);

}  // namespace ornat::sim
