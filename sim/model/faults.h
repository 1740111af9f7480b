#pragma once
// Line faults of a simulated detector, and the byte schedule of what it puts on the
// line. A correct answer of the model (detector_model.h) becomes a Reply: chunks of
// bytes, each after a stretch of silence, which the caller paces at the line rate.
//
// Timing model: the schedule counts from the moment the last byte of the request has
// arrived. Each chunk starts after its `silence_before`, and a byte is on the line
// (its stop bit received) 10 bit times after it started: 1 start, 8 data, 1 stop bit.

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "model/detector_model.h"

namespace ornat::sim {

// What one detector does wrong on the line. The defaults do nothing wrong.
struct Faults {
  // The detector does not hear requests at all: no answer, nothing carried out.
  bool silent = false;
  // Chance (0..1) that an answer goes out with a corrupted CRC; 1 corrupts every one.
  // The request is carried out all the same.
  double bad_crc_probability = 0.0;
  // The request's own bytes come back before the answer, as from an RS-485 adapter
  // that echoes what it sends.
  bool echo_request = false;
  // Bytes of line noise sent right before the answer, in the same burst.
  std::size_t stray_bytes = 0;
  std::uint8_t stray_value = 0xFF;
  // A silence of `pause` inside the answer, after `pause_after` of its bytes (stray
  // bytes included); nullopt splits the answer in the middle. Zero: no pause.
  std::chrono::milliseconds pause{0};
  std::optional<std::size_t> pause_after{};
  // Every request addressed to the detector gets this exception code instead of its
  // answer, and is not carried out.
  std::optional<std::uint8_t> forced_exception{};
  // Registers the detector returns for the parameter query (read of 8 registers from
  // register 0): 1..8. Fewer than 8 gives a shorter answer with the first ones only.
  std::uint16_t query_registers = 8;
  // Extra silence before the answer, on top of the line's turnaround.
  std::chrono::milliseconds extra_delay{0};
  // The whole answer is put on the line at once, after the turnaround, instead of one
  // byte every 10 bit times: a slave that writes its answer in one go into a fast
  // adapter, or an adapter that passes on what it collected in one packet. The master
  // sees every byte of it at the same instant.
  bool unpaced = false;
  // Every answer (echo and exception included) goes out with this address in byte 0
  // and its CRC made to fit: a faulty unit, or another device answering in its
  // place. The request is carried out all the same.
  std::optional<std::uint8_t> answer_from{};
  // Bytes right behind the answer, in the same burst: what an RS-485 transmitter leaves
  // on the line as it turns off (one 0x00, typically).
  std::size_t trailing_bytes = 0;
  std::uint8_t trailing_value = 0x00;
  // The master's USB adapter hands what the detector sends over in bursts, one every
  // `adapter_latency` (an FTDI chip's latency timer, 16 ms by default): each byte
  // reaches the master at the first burst after it is on the line. Zero: at once.
  std::chrono::milliseconds adapter_latency{0};

  bool operator==(const Faults&) const = default;
};

// One stretch of bytes sent without pause, after `silence_before`.
struct ReplyChunk {
  std::chrono::microseconds silence_before{0};
  Bytes bytes;
  bool operator==(const ReplyChunk&) const = default;
};

// An interface change of one detector of a line, to apply after the reply.
struct Commit {
  std::size_t detector = 0;
  PendingChange change;
  bool operator==(const Commit&) const = default;
};

// What the line carries back after one request.
struct Reply {
  std::vector<ReplyChunk> chunks;       // empty: silence
  std::vector<Commit> commits;          // apply when the last byte is out (Bus::CommitAfterAnswer)
  std::optional<std::size_t> detector;  // the detector that answered, if any
  std::string note;      // why the line stayed silent or what went wrong; empty when normal
  bool unpaced = false;  // each chunk arrives whole when it starts (Faults::unpaced)
  // Bursts of the master's adapter (Faults::adapter_latency); zero: none.
  std::chrono::milliseconds adapter_latency{0};
  // The replies of further detectors at the same address, each timed on its own from
  // the end of the request (their commits are in this reply's).
  std::vector<Reply> also;

  bool silent() const { return chunks.empty(); }
  // Every byte of this detector's reply, in order (not those in `also`).
  Bytes AllBytes() const;
  // The detectors that answer: `detector` and those in `also`.
  std::vector<std::size_t> Answering() const;
};

// One byte of a reply with the moment its last bit is on the line, counted from the end
// of the request.
struct TimedByte {
  std::chrono::nanoseconds at{0};
  std::uint8_t byte = 0;
  bool operator==(const TimedByte&) const = default;
};

// The time a byte takes on the line at `bit_rate` (10 bits); 9600 bit/s when 0.
std::chrono::nanoseconds ByteDuration(std::uint32_t bit_rate);

// When each byte of `reply` is on the line at `bit_rate`. Stray bytes, echoes and the
// answer follow one another without gaps inside a chunk; in an unpaced reply every
// byte of a chunk comes at the end of the silence before it.
std::vector<TimedByte> ScheduleBytes(const Reply& reply, std::uint32_t bit_rate);

// What the master receives of `reply` and the replies in reply.also: each scheduled
// (ScheduleBytes), then put on one wire. A byte of one that is on the line less than a
// byte's time from a byte of another overlaps it: the two drivers AND them into one
// byte, at the later one's time; bytes that do not overlap come as they are, in time
// order. `collided` (if given) tells whether any byte was ANDed.
std::vector<TimedByte> ScheduleOnWire(const Reply& reply, std::uint32_t bit_rate,
                                      bool* collided = nullptr);

// When a byte that is on the line at `on_line` (a time on the adapter's own clock)
// reaches the master through an adapter with that latency: at the next multiple of
// `latency` (the same instant when it falls on one); at once for zero.
std::chrono::nanoseconds AdapterDelivery(std::chrono::nanoseconds on_line,
                                         std::chrono::milliseconds latency);

// Offers `request` (a whole frame, CRC included) to `model` and shapes its answer by
// `faults`: silence, forced exception, short parameter answer, answer address, echo,
// stray bytes, bad CRC, pause and delay. `turnaround` is the silence between the request and the
// answer; `rng` decides the bad-CRC chance. The commits of the reply name detector 0.
// A silent detector stays silent, echo included: the echo belongs to its adapter, and
// a detector that does not hear is taken to be off the line.
Reply Respond(DetectorModel& model, std::span<const std::uint8_t> request, const Faults& faults,
              std::chrono::microseconds turnaround, std::mt19937& rng);

// The answer with only the first `registers` of a function-3 answer kept, its byte
// count and CRC fixed. Answers of other functions, or that have no more registers, are
// returned as they are.
Bytes TruncateReadAnswer(const Bytes& answer, std::uint16_t registers);

}  // namespace ornat::sim
