#pragma once
// When a read ends under the CommTimeouts (the rules of Win32's ReadFile), planned once
// from the timeouts and the count, for every device that keeps those rules in its own
// time (the POSIX device on the steady clock, the simulated line on the virtual one):
//  - interval MAXDWORD, both totals 0: it returns at once with what is queued;
//  - interval MAXDWORD, multiplier MAXDWORD, 0 < constant < MAXDWORD ("first bytes"):
//    it returns as soon as it holds a byte, or after constant ms with none;
//  - otherwise it ends when count bytes came, at multiplier * count + constant ms from
//    its start (both 0: no total limit), and, once a byte came, when interval ms pass
//    without another (interval 0: no interval limit). Interval 150 with zero totals,
//    ComPort1's, thus waits for its first byte without end.

#include <chrono>
#include <optional>

#include "serial/platform/comm_device.h"

namespace ornat {

struct ReadPlan {
  bool return_queued = false;                         // ends at once with what is queued
  bool first_bytes = false;                           // ends as soon as it holds a byte
  std::optional<std::chrono::milliseconds> total;     // from the start of the read
  std::optional<std::chrono::milliseconds> interval;  // from the last byte, once one came

  // True when a read that holds `got` bytes ends once it has taken what is queued.
  bool EndsWithWhatIsQueued(int got) const { return return_queued || (first_bytes && got > 0); }

  // When a read that began at `start` and holds `got` bytes, the last of them at
  // `last_byte`, ends for lack of bytes; nullopt: it waits without end.
  template <typename Time>
  std::optional<Time> Deadline(Time start, Time last_byte, int got) const {
    std::optional<Time> due;
    if (total) due = start + *total;
    if (interval && got > 0) {
      const Time by_interval = last_byte + *interval;
      if (!due || by_interval < *due) due = by_interval;
    }
    return due;
  }
};

ReadPlan PlanRead(const CommTimeouts& timeouts, int count);

}  // namespace ornat
