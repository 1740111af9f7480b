#include "line/simulated_line.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "serial/platform/read_plan.h"

namespace ornat::sim {

namespace {

using std::chrono::duration_cast;

// How long the UI side waits, in real time, for the event thread to park. It parks
// within microseconds; the limit only turns a broken lockstep into an error.
constexpr auto kSettleLimit = std::chrono::seconds(10);
constexpr auto kSettleLimitBroken = std::chrono::milliseconds(200);

Micros ToMicros(std::chrono::nanoseconds ns) {
  return duration_cast<Micros>(ns);
}

}  // namespace

SimulatedLine::SimulatedLine(Scheduler& clock, QueueDispatcher& ui_queue, BusOptions options)
    : clock_(clock), ui_queue_(ui_queue), ui_thread_(std::this_thread::get_id()), bus_(options) {
  line_.BaudRate = 9600;  // until the port sets its rate
}

SimulatedLine::~SimulatedLine() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (read_task_ != 0) clock_.Cancel(read_task_);
}

// --- configuration ----------------------------------------------------------------

std::size_t SimulatedLine::AddDetector(std::uint8_t address, Faults faults) {
  return bus_.Add(DetectorModel(address), faults);
}

void SimulatedLine::ScriptAnswer(Bytes bytes) {
  scripted_.push_back(std::move(bytes));
}

void SimulatedLine::Inject(Bytes bytes, Micros after) {
  Reply reply;
  reply.chunks.push_back({after, std::move(bytes)});
  reply.note = "injected";
  SchedulePaced(ScheduleBytes(reply, CurrentBaudRate()), &reply);
}

void SimulatedLine::ArriveNow(const Bytes& bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    WireFrame f;
    f.direction = WireDirection::kFromDetector;
    f.first = f.last = clock_.Now();
    f.bytes = bytes;
    f.note = "injected";
    wire_.push_back(std::move(f));
  }
  OnArrival(bytes);
}

void SimulatedLine::HangUp() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hung_up_ = true;
    if (phase_ == ReadPhase::kAsked || phase_ == ReadPhase::kCollecting) CompleteRead(EIO);
  }
  cv_.notify_all();
  SettleAndDrain();
}

void SimulatedLine::SetWriteHook(std::function<void(const Bytes& bytes)> fn) {
  write_hook_ = std::move(fn);
}

// --- inspection --------------------------------------------------------------------

std::vector<WireFrame> SimulatedLine::WireFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wire_;
}

std::vector<Bytes> SimulatedLine::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Bytes> out;
  for (const WireFrame& f : wire_)
    if (f.direction == WireDirection::kToDetector) out.push_back(f.bytes);
  return out;
}

std::vector<Micros> SimulatedLine::RequestTimes() const {
  return request_times_;
}

std::vector<ReadRecord> SimulatedLine::Reads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reads_;
}

void SimulatedLine::ClearHistory() {
  std::lock_guard<std::mutex> lock(mutex_);
  wire_.clear();
  reads_.clear();
  request_times_.clear();
}

std::size_t SimulatedLine::LostBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lost_;
}

std::size_t SimulatedLine::QueuedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

std::vector<std::string> SimulatedLine::Errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

Micros SimulatedLine::ByteTime() const {
  return ToMicros(ByteDuration(CurrentBaudRate()));
}

// --- lockstep -------------------------------------------------------------------

bool SimulatedLine::Parked() const {
  if (phase_ == ReadPhase::kAsked || phase_ == ReadPhase::kDone) return false;
  if (phase_ == ReadPhase::kCollecting) return true;
  if (!ThreadExpected()) return true;
  return waiting_ > 0 && !rx_event_;
}

void SimulatedLine::Settle(Lock& lock) {
  const auto limit = broken_ ? kSettleLimitBroken : kSettleLimit;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (phase_ == ReadPhase::kAsked) {
      BeginRead();
      continue;
    }
    if (Parked()) return;
    if (cv_.wait_until(lock, deadline) == std::cv_status::timeout && !Parked() &&
        phase_ != ReadPhase::kAsked) {
      errors_.push_back("the event thread did not come back to WaitEvent or Read");
      broken_ = true;
      return;
    }
  }
}

void SimulatedLine::SettleAndDrain() {
  {
    Lock lock(mutex_);
    Settle(lock);
    for (DevError e : failed_reads_) {
      ReadRecord r;
      r.begin = r.end = clock_.Now();
      r.error = e;
      reads_.push_back(std::move(r));
    }
    failed_reads_.clear();
  }
  // The hand-over the event thread posted runs now, through the gate.
  ui_queue_.RunPending();
}

// --- reads ------------------------------------------------------------------------

void SimulatedLine::BeginRead() {
  phase_ = ReadPhase::kCollecting;
  read_begin_ = clock_.Now();
  read_bytes_.clear();
  read_error_ = 0;
  ++read_generation_;
  if (hung_up_ || !open_) {
    CompleteRead(hung_up_ ? EIO : EBADF);
    return;
  }
  TakeQueued();
  if (phase_ == ReadPhase::kCollecting && read_count_ <= 0) CompleteRead(0);
}

void SimulatedLine::TakeQueued() {
  // Bytes already queued and any that arrive while the read runs go to it, up to
  // its count; the rest stay queued.
  while (phase_ == ReadPhase::kCollecting && !queue_.empty() &&
         static_cast<int>(read_bytes_.size()) < read_count_) {
    read_bytes_.push_back(queue_.front().first);
    read_last_byte_ = queue_.front().second;
    queue_.pop_front();
  }
  if (phase_ != ReadPhase::kCollecting) return;
  const int got = static_cast<int>(read_bytes_.size());
  if ((got >= read_count_ && read_count_ > 0) ||
      PlanRead(timeouts_, read_count_).EndsWithWhatIsQueued(got)) {
    CompleteRead(0);
    return;
  }
  ScheduleReadCompletion();
}

void SimulatedLine::ScheduleReadCompletion() {
  // The read's timeouts, as the device keeps them: the interval runs from each byte
  // (and only once one has come); the total, when set, from the start of the read.
  if (read_task_ != 0) clock_.Cancel(read_task_);
  read_task_ = 0;
  const std::optional<Micros> due =
      PlanRead(timeouts_, read_count_)
          .Deadline(read_begin_, read_last_byte_, static_cast<int>(read_bytes_.size()));
  if (!due) return;  // waits for its first byte without end
  const std::uint64_t generation = read_generation_;
  Micros delay = *due - clock_.Now();
  read_task_ = clock_.ScheduleAfter(delay, [this, generation] { OnReadTimeout(generation); });
}

void SimulatedLine::OnReadTimeout(std::uint64_t generation) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    read_task_ = 0;
    if (generation != read_generation_ || phase_ != ReadPhase::kCollecting) return;
    CompleteRead(0);
  }
  cv_.notify_all();
  SettleAndDrain();
}

void SimulatedLine::CompleteRead(DevError error) {
  // Lock held. The event thread picks the result up and goes back to WaitEvent.
  ReadRecord r;
  r.begin = read_begin_;
  r.limit = read_count_;
  r.error = error;
  if (error != 0) read_bytes_.clear();
  r.bytes = read_bytes_;
  r.end = OnUiThread() ? clock_.Now() : read_begin_;
  reads_.push_back(std::move(r));
  read_error_ = error;
  phase_ = ReadPhase::kDone;
  ++read_generation_;
  if (read_task_ != 0 && OnUiThread()) {
    clock_.Cancel(read_task_);
    read_task_ = 0;
  }
  cv_.notify_all();
}

// --- the wire ------------------------------------------------------------------------

void SimulatedLine::SchedulePaced(const std::vector<TimedByte>& bytes, const Reply* reply) {
  if (bytes.empty()) return;
  const Micros now = clock_.Now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    WireFrame f;
    f.direction = WireDirection::kFromDetector;
    f.first = now + ToMicros(bytes.front().at);
    f.last = now + ToMicros(bytes.back().at);
    for (const TimedByte& b : bytes) f.bytes.push_back(b.byte);
    if (reply != nullptr) f.note = reply->note;
    wire_.push_back(std::move(f));
  }
  const std::chrono::milliseconds latency =
      reply != nullptr ? reply->adapter_latency : std::chrono::milliseconds(0);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t b = bytes[i].byte;
    const bool last = i + 1 == bytes.size();
    std::shared_ptr<Reply> commits;
    if (last && reply != nullptr && !reply->commits.empty())
      commits = std::make_shared<Reply>(*reply);
    // The master's adapter hands the byte over at its next burst (on the clock's grid).
    const Micros at = ToMicros(AdapterDelivery(now + bytes[i].at, latency)) - now;
    clock_.ScheduleAfter(at, [this, b, commits] {
      OnByteArrival(b);
      // An address or speed change takes effect once its echo is out.
      if (commits) bus_.CommitAfterAnswer(*commits);
    });
  }
}

void SimulatedLine::OnRequestHeard(const Bytes& request, std::uint32_t bit_rate) {
  Reply reply;
  if (!scripted_.empty()) {
    reply.chunks.push_back({bus_.options().turnaround, std::move(scripted_.front())});
    scripted_.pop_front();
    reply.note = "scripted";
  } else {
    // A detector still answering an earlier request does not hear this one.
    const Micros now = clock_.Now();
    std::vector<bool> busy(bus_.size(), false);
    for (std::size_t i = 0; i < busy.size() && i < busy_until_.size(); ++i)
      busy[i] = busy_until_[i] > now;
    reply = bus_.HandleFrame(request, bit_rate, busy);
  }
  bool collided = false;
  std::vector<TimedByte> bytes = ScheduleOnWire(reply, bit_rate, &collided);
  if (bytes.empty()) {
    bus_.CommitAfterAnswer(reply);  // a silent reply (a broadcast) commits at once
    return;
  }
  if (collided) reply.note += reply.note.empty() ? "collision" : ",collision";
  const Micros last = clock_.Now() + ToMicros(bytes.back().at);
  for (std::size_t i : reply.Answering()) {
    if (busy_until_.size() <= i) busy_until_.resize(i + 1, Micros(0));
    busy_until_[i] = last;
  }
  SchedulePaced(bytes, &reply);
}

void SimulatedLine::OnByteArrival(std::uint8_t byte) {
  OnArrival(Bytes{byte});
}

void SimulatedLine::OnArrival(const Bytes& bytes) {
  {
    Lock lock(mutex_);
    Settle(lock);
    if (!open_ || hung_up_) {
      lost_ += bytes.size();  // a closed port, or a line whose other end is gone
      return;
    }
    // All of them in the queue at once: one arrival, as a burst raises one.
    for (std::uint8_t byte : bytes) queue_.emplace_back(byte, clock_.Now());
    if (phase_ == ReadPhase::kCollecting) {
      TakeQueued();
    } else if (ThreadExpected() && (event_mask_ & EV_RXCHAR) != 0 && waiting_ > 0) {
      // The event thread waits: the byte raises EV_RXCHAR, its handler reads.
      rx_event_ = true;
      cv_.notify_all();
    }
  }
  SettleAndDrain();
}

// --- CommDevice ------------------------------------------------------------------------

DevError SimulatedLine::Open(const std::string& /*port*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_) return EBUSY;  // opened once already, as a device held by its own open
  open_ = true;
  hung_up_ = false;
  event_mask_ = 0;
  rx_event_ = false;
  queue_.clear();
  return 0;
}

DevError SimulatedLine::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    event_mask_ = 0;
    rx_event_ = false;
    queue_.clear();
    if (phase_ == ReadPhase::kAsked || phase_ == ReadPhase::kCollecting) CompleteRead(EBADF);
  }
  cv_.notify_all();
  return 0;
}

std::uint32_t SimulatedLine::TakeEventLocked() {
  if (!rx_event_) return 0;
  rx_event_ = false;
  return EV_RXCHAR;
}

IoResult SimulatedLine::Read(void* buffer, int count) {
  Lock lock(mutex_);
  if (!open_) {
    // Recorded when the UI side next settles; no request for it to take in.
    failed_reads_.push_back(EBADF);
    cv_.notify_all();
    return {EBADF, 0};
  }
  read_count_ = count;
  phase_ = ReadPhase::kAsked;
  cv_.notify_all();
  cv_.wait(lock, [&] { return phase_ == ReadPhase::kDone; });
  IoResult result{read_error_, 0};
  if (read_error_ == 0) {
    result.count = static_cast<int>(read_bytes_.size());
    if (result.count > 0) std::memcpy(buffer, read_bytes_.data(), read_bytes_.size());
  }
  phase_ = ReadPhase::kNone;
  cv_.notify_all();
  return result;
}

IoResult SimulatedLine::Write(const void* buffer, int count) {
  IoResult r{0, count};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return {EBADF, 0};
  }
  if (count <= 0) return {0, 0};
  if (!OnUiThread()) {
    std::lock_guard<std::mutex> lock(mutex_);
    errors_.push_back("Write from a thread other than the clock's");
    return r;
  }
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  Bytes request(in, in + r.count);
  if (write_hook_) write_hook_(request);
  const std::uint32_t rate = CurrentBaudRate();
  const Micros now = clock_.Now();
  // The request is on the wire for 10 bits a byte; the detectors hear it whole.
  const Micros end = ToMicros(ByteDuration(rate) * r.count);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    WireFrame f;
    f.direction = WireDirection::kToDetector;
    f.first = now + ToMicros(ByteDuration(rate));
    f.last = now + end;
    f.bytes = request;
    wire_.push_back(std::move(f));
  }
  request_times_.push_back(now);
  clock_.ScheduleAfter(end, [this, request, rate] { OnRequestHeard(request, rate); });
  return r;
}

DevError SimulatedLine::ClearError(std::uint32_t& errors, std::uint32_t& in_queue) {
  std::lock_guard<std::mutex> lock(mutex_);
  errors = 0;  // the line has no framing or overrun errors
  in_queue = static_cast<std::uint32_t>(queue_.size());
  return 0;
}

DevError SimulatedLine::GetModemStatus(std::uint32_t& status) {
  status = 0;  // no modem lines: all read as off
  return 0;
}

DevError SimulatedLine::Purge(std::uint32_t flags) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if ((flags & PURGE_RXABORT) != 0 &&
        (phase_ == ReadPhase::kAsked || phase_ == ReadPhase::kCollecting))
      CompleteRead(ECANCELED);
    if ((flags & PURGE_RXCLEAR) != 0) queue_.clear();
  }
  cv_.notify_all();
  return 0;
}

}  // namespace ornat::sim
