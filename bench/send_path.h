#pragma once
// Where the time of the cyclic query goes, from the start of one completion to the
// next request on the line, for the benchmarks of the logic alone (bench_cyclic_period)
// and of the window (ornat_cpu_bench). Not a test: nothing here asserts.
//
// SendPathTrace turns the stamps of N cycles into the breakdown, one row per stage, in
// the order the stages run; the rows of one cycle up to the write add up to its
// lateness (the request written after the completion's start + 500 ms) exactly:
//
//   completion running     start of Timer_RxTimer -> its end
//     of which the close   the port closed: transfers aborted, event thread joined
//   step timer lateness    its end + 500 ms -> the step timer's handler starts
//   step to open           the handler until the port's open begins (the log's TX line)
//   open                   the open of the port, the holder look included
//     of which holder look
//   open to write          line settings, timeouts, the event thread started
//   write                  the 8 request bytes handed to the port
//   and after it:
//   write to the line      until the simulator has read them (the pty, its wake-up)

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_form.h"

namespace ornat::bench {

// The stamps of a run of the cyclic query. Entry k of `steps`, `opens`, `writes` and
// `line` belongs to request k; completion k ends exchange k, whose successor is
// request k + 1.
struct SendPathTrace {
  std::vector<Clock::time_point> completion_start, completion_end, steps, line;
  std::vector<StampingDevice::OpenStamp> opens;
  std::vector<StampingDevice::WriteStamp> writes;
  // Every purge's start and every close's end (the device's), in time order.
  std::vector<Clock::time_point> purges, closes;

  struct Rows {
    std::vector<double> late_write, late_line, running, close, timer, to_open, open, look, to_write,
        write, to_line;
  };
  Rows Breakdown() const {
    using std::chrono::milliseconds;
    Rows r;
    for (std::size_t k = 0; k + 1 < steps.size(); ++k) {
      const std::size_t next = k + 1;
      if (k >= completion_start.size() || k >= completion_end.size() || next >= opens.size() ||
          next >= writes.size())
        break;
      const auto due = completion_end[k] + milliseconds(500);
      const auto& o = opens[next];
      const auto& w = writes[next];
      r.running.push_back(Ms(completion_end[k] - completion_start[k]));
      // The close inside this completion: from its first purge to the device's close.
      const auto p = std::lower_bound(purges.begin(), purges.end(), completion_start[k]);
      const auto c = std::lower_bound(closes.begin(), closes.end(), completion_start[k]);
      if (p != purges.end() && c != closes.end() && *c <= completion_end[k] && *p <= *c)
        r.close.push_back(Ms(*c - *p));
      r.timer.push_back(Ms(steps[next] - due));
      r.to_open.push_back(Ms(o.begin - steps[next]));
      r.open.push_back(Ms(o.end - o.begin));
      r.look.push_back(Ms(o.look));
      r.to_write.push_back(Ms(w.begin - o.end));
      r.write.push_back(Ms(w.end - w.begin));
      r.late_write.push_back(Ms(w.end - (completion_start[k] + milliseconds(500))));
      if (next < line.size()) {
        r.to_line.push_back(Ms(line[next] - w.end));
        r.late_line.push_back(Ms(line[next] - (completion_start[k] + milliseconds(500))));
      }
    }
    return r;
  }

  // Prints the breakdown and its RESULT lines, each key prefixed by `key`.
  void Print(const std::string& key, bool looked) const {
    const Rows r = Breakdown();
    auto row = [&](const char* label, const char* name, const std::vector<double>& v) {
      Report(label, v);
      Result((key + name).c_str(), v);
    };
    std::printf("where it goes (median / worst of each stage; holder look %s):\n",
                looked ? "as shipped" : "skipped");
    row("  request written after compl. start + 500", "late_write", r.late_write);
    row("  request read by the simulator, same", "late_line", r.late_line);
    row("    completion running", "running", r.running);
    row("      of which closing the port", "close", r.close);
    row("    step timer after compl. end + 500", "timer", r.timer);
    row("    step to open (handler, TX line)", "to_open", r.to_open);
    row("    open of the port", "open", r.open);
    row("      of which the look for holders", "look", r.look);
    row("    open to write (settings, thread)", "to_write", r.to_write);
    row("    write", "write", r.write);
    row("    write to the simulator's read", "to_line", r.to_line);
  }
};

// Where the time from an answer's last byte to the start of its completion goes: the
// read's 150 ms interval on the event thread, the hand-over of the bytes to the
// user-interface thread, and the 5 ms settling time of Timer_Rx.
struct CompletionTrace {
  // Entry i of both belongs to exchange i.
  std::vector<Clock::time_point> last_byte, completion_start;
  // Every read that returned bytes, every hand-over that ran (in time order).
  std::vector<Clock::time_point> reads, handovers;

  void Print(const std::string& key) const {
    std::vector<double> total, read, handover, settling;
    for (std::size_t i = 0; i < last_byte.size() && i < completion_start.size(); ++i) {
      const auto l = last_byte[i], c = completion_start[i];
      const double d = Ms(c - l);
      if (d <= 0 || d > 400) continue;  // not this exchange's answer
      const auto r = std::lower_bound(reads.begin(), reads.end(), l);
      if (r == reads.end() || *r > c) continue;
      const auto h = std::lower_bound(handovers.begin(), handovers.end(), *r);
      if (h == handovers.end() || *h > c) continue;
      total.push_back(d);
      read.push_back(Ms(*r - l));
      handover.push_back(Ms(*h - *r));
      settling.push_back(Ms(c - *h));
    }
    auto row = [&](const char* label, const char* name, const std::vector<double>& v) {
      Report(label, v);
      Result((key + name).c_str(), v);
    };
    std::printf("where the completion delay goes (median / worst of each stage):\n");
    row("  last answer byte -> completion", "total", total);
    row("    read returned (150 ms interval)", "read", read);
    row("    hand-over to the UI thread", "handover", handover);
    row("    settling (5 ms) to the completion", "settling", settling);
  }
};

}  // namespace ornat::bench
