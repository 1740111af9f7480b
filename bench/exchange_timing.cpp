// Exchange timing over a pseudo-terminal against ornat-sim at 9600 bit/s, through the
// window's real engine, component, event thread and POSIX device. Prints figures;
// asserts nothing.
//
//   1. From the last byte of the answer (the simulator's wire log, on the same
//      monotonic clock) to the start of the completion (Timer_RxTimer), over N
//      parameter queries: nominal 150 ms read interval + 5 ms settling; aim: under
//      155 ms + 3 ms. Then where that time goes: the read's return, the hand-over to
//      the user-interface thread, the settling time.
//   2. From the send call (the press of "&ЗАПРОС ПАРАМЕТРОВ") to the request's
//      bytes handed to the port (the Write returned), and to the simulator's reading
//      of them (its wire log); a pty has no line pacing. Aim: under 1 ms.
//
// Each exchange is taken from its own press to the next one: its write and its
// completion are those the window made in that span, and its answer is the one that the
// wire log shows ending after that write and before that completion. An exchange that
// did not end as one request, one answer and one completion that showed "ОК" is told
// with its cause (what the window logged and handed over, what went over the wire in its
// span) and left out of the figures; the others keep their own pairs whatever happened
// before them.
//
// Usage: bench_exchange_timing [exchanges] [folder] [tcp|rfc2217]
// With a folder, the run's wire log (exchange_timing.wire.log) and journal
// (exchange_timing.journal.jsonl) are kept there, so that a failure can be read later.
// With tcp or rfc2217, the window reaches the simulator's pty through ser2net's raw TCP
// or RFC 2217 accepter on the loopback (the network device, the round trip included in
// the figures), and the figures' keys and kept files are prefixed net_tcp_ or
// net_rfc2217_. SER2NET_CHARDELAY=false: ser2net forwards the pty's bytes at once
// instead of waiting for a pause of a few character times.
// With ORNAT_BENCH_HOLD_LINE=0 the sends take no line lock (each single query takes it
// and lets it go otherwise).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench_form.h"
#include "journal/exchange_journal.h"
#include "send_path.h"
#include "serial/network/network_comm_device.h"
#include "support/net_peers.h"
#include "support/sim_process.h"

namespace {

using namespace ornat;
using namespace ornat::bench;
using Frame = testing::SimProcess::WireAnswer;

// What the engine told of each exchange, stamped when it was told.
class Records : public ExchangeObserver {
 public:
  void ExchangeEnded(const ExchangeRecord& record) override {
    list.push_back({Clock::now(), record});
  }
  std::vector<std::pair<Clock::time_point, ExchangeRecord>> list;
};

// The elements of `all` stamped in [from, to).
template <typename T, typename Stamp>
std::vector<T> Within(const std::vector<T>& all, Clock::time_point from, Clock::time_point to,
                      Stamp stamp) {
  std::vector<T> out;
  for (const T& x : all)
    if (stamp(x) >= from && stamp(x) < to) out.push_back(x);
  return out;
}

const char* EndName(ExchangeRecord::End end) {
  switch (end) {
    case ExchangeRecord::End::kCompleted:
      return "completed";
    case ExchangeRecord::End::kSendFailed:
      return "send failed";
    case ExchangeRecord::End::kIdle:
      return "bytes with no request";
    case ExchangeRecord::End::kSuperseded:
      return "superseded";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 100;
  const std::string folder = argc > 2 ? argv[2] : "";
  const std::string via = argc > 3 ? argv[3] : "";
  if (!via.empty() && via != "tcp" && via != "rfc2217") {
    std::fprintf(stderr, "the line is tcp or rfc2217, not \"%s\"\n", via.c_str());
    return 2;
  }
  const std::string key = via.empty() ? "" : "net_" + via + "_";
  const std::string stem = (folder.empty() ? "" : folder + "/") + key + "exchange_timing";

  testing::SimProcess sim({"--no-console"});
  if (!sim.Started()) {
    std::fprintf(stderr, "ornat-sim did not start\n");
    return 1;
  }
  std::string port = sim.pty_path();
  std::unique_ptr<testing::Program> ser2net;
  std::unique_ptr<CommDevice> device;
  char dir[] = "/tmp/ornat-bench-ser2net-XXXXXX";
  if (!via.empty()) {
    if (::mkdtemp(dir) == nullptr) return 1;
    const int tcp_port = testing::FreeTcpPort();
    const char* chardelay = std::getenv("SER2NET_CHARDELAY");
    ser2net = testing::Ser2netLine(dir, tcp_port, sim.pty_path(), via == "rfc2217",
                                   chardelay ? chardelay : "");
    if (!testing::Listening(tcp_port)) {
      std::fprintf(stderr, "ser2net did not start: %s\n", ser2net->Err().c_str());
      return 1;
    }
    port = via + "://127.0.0.1:" + std::to_string(tcp_port);
    device = std::make_unique<NetworkCommDevice>();
  }
  BenchForm b(port, std::move(device));
  Records records;
  b.exchanges.Add(&records);
  std::unique_ptr<ExchangeJournal> journal;
  if (!folder.empty()) {
    try {
      journal = std::make_unique<ExchangeJournal>(stem + ".journal.jsonl", "bench_exchange_timing");
    } catch (const JournalError& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
    b.exchanges.Add(journal.get());
  }
  std::vector<Clock::time_point> calls;
  for (int i = 0; i < n; ++i) {
    calls.push_back(Clock::now());
    b.gate.Enter([&] { b.form->TeButton5.Click(); });
    b.RunToCompletion();
    b.loop.RunFor(std::chrono::milliseconds(20));
  }
  // The last exchange's span ends here: a late answer still counts against it.
  b.loop.RunFor(std::chrono::milliseconds(600));
  calls.push_back(Clock::now());
  b.exchanges.Remove(&records);
  if (journal) b.exchanges.Remove(journal.get());

  const auto answers = sim.WireAnswers();
  const auto requests = sim.WireRequests();
  const auto events = sim.WireEvents();
  const auto writes = b.device.Writes();
  const auto at = [](const Frame& f) { return f.first; };
  const auto self = [](Clock::time_point t) { return t; };
  CompletionTrace ct;
  std::vector<double> to_completion, over_nominal, to_write, to_sim;
  int failed = 0;
  for (int i = 0; i < n; ++i) {
    const auto from = calls[i], to = calls[i + 1];
    // The window's side, on this process's clock: what it did between this press and
    // the next one.
    const auto done = Within(b.completions, from, to, self);
    const auto wrote = Within(writes, from, to, self);
    std::vector<ExchangeRecord> told;
    for (const auto& [when, r] : records.list)
      if (when >= from && when < to) told.push_back(r);
    const bool shown_ok = done.size() == 1 && wrote.size() == 1 && told.size() == 1 &&
                          told[0].end == ExchangeRecord::End::kCompleted && !told[0].log.empty() &&
                          told[0].log.back() == "   : \u041E\u041A.";
    // The simulator's side, by cause and effect rather than by position: the answer is
    // the one whose last byte went out after this request was written and before its
    // completion; the request it read is the last one before that answer began. (A
    // stalled simulator stamps late, but never before it read or wrote.)
    std::vector<Frame> answer, request;
    if (done.size() == 1 && wrote.size() == 1) {
      for (const Frame& f : answers)
        if (f.last > wrote[0] && f.last <= done[0]) answer.push_back(f);
      if (answer.size() == 1)
        for (const Frame& f : requests)
          if (f.first >= from && f.first <= answer[0].first && f.note.empty()) request = {f};
    }
    const bool ok = shown_ok && answer.size() == 1 && answer[0].note.empty() &&
                    request.size() == 1 && HexText(told[0].Answer()) == answer[0].hex;
    if (ok) {
      const double d = Ms(done[0] - answer[0].last);
      to_completion.push_back(d);
      over_nominal.push_back(d - 155.0);
      to_write.push_back(Ms(wrote[0] - from));
      to_sim.push_back(Ms(request[0].first - from));
      ct.last_byte.push_back(answer[0].last);
      ct.completion_start.push_back(done[0]);
      continue;
    }
    // Its cause: what the window told and what the wire log holds, in ms after the press.
    ++failed;
    std::printf("exchange %d failed: %zu completion(s), %zu write(s), %zu told:\n", i + 1,
                done.size(), wrote.size(), told.size());
    for (const ExchangeRecord& r : told) {
      std::printf("  the window: %s (%s)%s%s; handed over:", EndName(r.end),
                  OperationName(r).c_str(), r.failure.empty() ? "" : ", ", r.failure.c_str());
      for (const auto& read : r.reads) std::printf(" [%s]", HexText(read).c_str());
      std::printf("\n");
      for (const auto& line : r.log) std::printf("  | %s\n", line.c_str());
    }
    std::printf("  answers that ended between its write and its completion: %zu\n", answer.size());
    // A request read long after its write, with the port's events stamped at the same
    // moment, is a simulator that was held up (by the machine or its host), not one
    // that lost it.
    const auto read = Within(requests, from, to, at);
    if (!read.empty() && !wrote.empty())
      std::printf("  the simulator read a request %.3f ms after it was written\n",
                  Ms(read.front().first - wrote.front()));
    else if (read.empty())
      std::printf("  the simulator read no request before the next press\n");
    std::vector<std::pair<double, std::string>> wire;
    for (const auto& f : Within(requests, from, to, at))
      wire.push_back(
          {Ms(f.first - from), "RX " + f.hex + (f.note.empty() ? "" : " note=" + f.note)});
    for (const auto& f : Within(answers, from, to, at))
      wire.push_back({Ms(f.first - from), "TX " + f.hex + " last=+" +
                                              std::to_string(Ms(f.last - from)) +
                                              (f.note.empty() ? "" : " note=" + f.note)});
    for (const auto& f : Within(events, from, to, at)) wire.push_back({Ms(f.first - from), f.hex});
    for (const auto t : done) wire.push_back({Ms(t - from), "(completion)"});
    for (const auto t : wrote) wire.push_back({Ms(t - from), "(request written)"});
    std::sort(wire.begin(), wire.end());
    for (const auto& [ms, what] : wire) std::printf("  %+10.3f ms  %s\n", ms, what.c_str());
  }
  ct.reads = b.device.Reads();
  ct.handovers = b.dispatcher.Ran();

  std::printf(
      "exchange timing, 9600 bit/s, %s against ornat-sim, %d exchanges (%d failed, left out of "
      "the figures)\n",
      via.empty() ? "pty" : port.c_str(), n, failed);
  Report("last answer byte -> completion", to_completion);
  Report("  of which over 155 ms", over_nominal);
  Report("send call -> request written (Write returned)", to_write);
  Report("send call -> request read by the simulator", to_sim);
  ct.Print(key + "completion_");
  Result((key + "completion_delay").c_str(), to_completion);
  Result((key + "send_to_write").c_str(), to_write);
  std::printf("RESULT %sexchanges_failed %d count\n", key.c_str(), failed);
  std::printf("RESULT %sexchanges_total %d count\n", key.c_str(), n);
  if (!folder.empty()) {
    std::error_code ec;
    const std::string kept = stem + ".wire.log";
    std::filesystem::copy_file(sim.wire_log_path(), kept,
                               std::filesystem::copy_options::overwrite_existing, ec);
    std::printf("the wire log: %s%s; the journal: %s\n", kept.c_str(),
                ec ? (" (not kept: " + ec.message() + ")").c_str() : "", journal->Path().c_str());
  }
  if (ser2net) {
    ser2net.reset();
    std::filesystem::remove_all(dir);
  }
  return 0;
}
