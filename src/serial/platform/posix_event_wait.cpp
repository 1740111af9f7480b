// PosixCommDevice's event wait: what WaitCommEvent reports, from the receive queue,
// the output queue, the modem lines and the error counters, with a poll that sleeps
// until one of them can have changed.

#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>

#include "serial/platform/posix_comm_device.h"
#include "serial/platform/posix_device_state.h"

namespace ornat {

namespace {

// Modem/counter polling period while the event mask asks for line changes on a
// device that has them (no poll()-able notification exists for those).
constexpr auto kLinePollPeriod = std::chrono::milliseconds(20);
// While bytes stay unread in the queue, new arrivals cannot be seen through POLLIN
// (it is level-triggered); the queue count is checked at this period instead.
constexpr auto kQueuedPollPeriod = std::chrono::milliseconds(10);

WaitResult Failed(DevError error) {
  return {WaitOutcome::kFailed, 0, error};
}

// The device as one round of the wait sees it.
struct WaitRound {
  int f = -1;
  int wake = -1;
  std::uint32_t mask = 0;
  bool modem_ok = false;
  bool icount_ok = false;
  int input_size = 0;
  int queued = 0;
  bool want_lines = false;   // modem lines polled
  bool want_counts = false;  // error counters polled
};

class EventWait {
 public:
  EventWait(PosixCommDevice::Impl& d, PosixStopSignal& stop, const CallsInFlight::Call& call)
      : d_(d), stop_(stop), call_(call) {}

  WaitResult Run() {
    for (;;) {
      if (stop_.IsSet()) return {WaitOutcome::kStopped, 0, 0};
      if (d_.hung_up.load()) return Failed(EIO);
      WaitRound r;
      {
        std::lock_guard<std::mutex> lock(d_.mu);
        r.f = d_.fd < 0 ? -1 : call_.fd();
        r.wake = d_.wake_efd;
        r.mask = d_.event_mask;
        r.modem_ok = d_.modem_supported;
        r.icount_ok = d_.icount_supported;
        r.input_size = d_.input_size;
      }
      if (r.f < 0) return Failed(EBADF);
      if (r.mask == 0) return Failed(EINVAL);
      std::uint32_t events = 0;
      if (std::optional<WaitResult> end = Happened(r, events)) return *end;
      if (events != 0) return {WaitOutcome::kEvents, events, 0};
      if (std::optional<WaitResult> end = Sleep(r)) return *end;
    }
  }

 private:
  void Hang() { d_.hung_up.store(true); }

  // What happened since the last report, as EV_* bits in `events`; or the failure
  // that ends the wait.
  std::optional<WaitResult> Happened(WaitRound& r, std::uint32_t& events) {
    // consumed first, then the queue: a read running in between can only make the
    // total look smaller for a moment (a later look sees it), never larger (which
    // would swallow the next arrival).
    const std::uint64_t consumed = d_.consumed.load();
    if (int e = d_.QueueCount(r.f, r.queued); e != 0) {
      Hang();  // FIONREAD fails with EIO on a hung-up tty
      return Failed(e == EIO ? EIO : TranslateErrno(e, PosixOp::kWait));
    }
    const std::uint64_t total = consumed + static_cast<std::uint64_t>(r.queued);
    {
      std::lock_guard<std::mutex> lock(d_.mu);
      // EV_RXCHAR once per arrival (as WaitCommEvent): bytes that stay queued are
      // not reported again.
      if (total > d_.reported_total) {
        if (r.mask & EV_RXCHAR) events |= EV_RXCHAR;
        d_.reported_total = total;
      }
      const bool full =
          r.input_size > 0 && static_cast<long long>(r.queued) * 5 >= 4LL * r.input_size;
      if (full && !d_.rx80_reported && (r.mask & EV_RX80FULL)) events |= EV_RX80FULL;
      d_.rx80_reported = full;
    }
    if ((r.mask & EV_TXEMPTY) && d_.tx_pending.load()) {
      int outq = 0;
      if (RetryOnInterrupt([&] { return d_.sys.ioctl(r.f, TIOCOUTQ, &outq); }) != 0) outq = 0;
      if (outq == 0) {
        d_.tx_pending.store(false);
        events |= EV_TXEMPTY;
      }
    }
    r.want_lines = r.modem_ok && (r.mask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING));
    if (r.want_lines) {
      int m = 0;
      if (RetryOnInterrupt([&] { return d_.sys.ioctl(r.f, TIOCMGET, &m); }) == 0) {
        std::lock_guard<std::mutex> lock(d_.mu);
        const int changed = m ^ d_.last_modem;
        if ((changed & TIOCM_CTS) && (r.mask & EV_CTS)) events |= EV_CTS;
        if ((changed & TIOCM_DSR) && (r.mask & EV_DSR)) events |= EV_DSR;
        if ((changed & TIOCM_CD) && (r.mask & EV_RLSD)) events |= EV_RLSD;
        if ((changed & TIOCM_RNG) && (m & TIOCM_RNG) && (r.mask & EV_RING)) events |= EV_RING;
        d_.last_modem = m;
      } else if (errno == EIO) {
        Hang();
        return Failed(EIO);
      }
    }
    r.want_counts = r.icount_ok && (r.mask & (EV_ERR | EV_BREAK));
    if (r.want_counts) {
      struct serial_icounter_struct ic {};
      if (d_.ReadIcount(r.f, ic)) {
        std::lock_guard<std::mutex> lock(d_.mu);
        auto& o = d_.wait_icount;
        if (ic.brk != o.brk && (r.mask & EV_BREAK)) events |= EV_BREAK;
        if ((ic.frame != o.frame || ic.overrun != o.overrun || ic.parity != o.parity ||
             ic.buf_overrun != o.buf_overrun) &&
            (r.mask & EV_ERR))
          events |= EV_ERR;
        o = ic;
      }
    }
    return std::nullopt;
  }

  // Sleeps in one poll until something can have changed; or the failure that ends the
  // wait.
  std::optional<WaitResult> Sleep(const WaitRound& r) {
    struct pollfd fds[4];
    nfds_t n = 0;
    fds[n++] = {stop_.fd(), POLLIN, 0};
    if (r.wake >= 0) fds[n++] = {r.wake, POLLIN, 0};
    const nfds_t closing_index = n;
    fds[n++] = {call_.efd(), POLLIN, 0};  // written by Close
    const nfds_t dev_index = n;
    // POLLIN only while the queue is empty (level-triggered); POLLHUP/POLLERR are
    // reported whatever is asked.
    fds[n++] = {r.f, static_cast<short>(r.queued == 0 ? POLLIN : 0), 0};
    long long timeout_ns = -1;
    auto shorten = [&](std::chrono::nanoseconds p) {
      if (timeout_ns < 0 || p.count() < timeout_ns) timeout_ns = p.count();
    };
    if (r.queued > 0) shorten(kQueuedPollPeriod);
    if (r.want_lines || r.want_counts) shorten(kLinePollPeriod);
    if ((r.mask & EV_TXEMPTY) && d_.tx_pending.load()) {
      shorten(backoff_);  // 1, 2, 4 ... 64 ms: output that does not drain costs little
      backoff_ = std::min(backoff_ * 2, std::chrono::milliseconds(64));
    }
    if (stop_.fd() < 0 && timeout_ns < 0) timeout_ns = 100'000'000;  // no eventfd: look again
    const int got = d_.sys.poll(fds, n, timeout_ns);
    if (got < 0) {
      if (errno == EINTR) return std::nullopt;
      return Failed(TranslateErrno(errno, PosixOp::kWait));
    }
    if (fds[closing_index].revents & POLLIN) return Failed(EBADF);
    if (r.wake >= 0 && (fds[1].revents & POLLIN)) DrainEventfd(d_.sys, r.wake);
    const short rev = fds[dev_index].revents;
    if (rev & (POLLHUP | POLLERR | POLLNVAL)) {
      Hang();
      return Failed(EIO);
    }
    if (rev & POLLIN) {
      int now_queued = 0;
      if (d_.QueueCount(r.f, now_queued) == 0 && now_queued == 0) {
        // Readable with nothing to read is end-of-file (read() would give 0): a
        // hang-up that was not flagged as POLLHUP. Allow a couple of races, no more.
        if (++empty_wakes_ >= 3) {
          Hang();
          return Failed(EIO);
        }
      } else {
        empty_wakes_ = 0;
      }
    }
    return std::nullopt;
  }

  PosixCommDevice::Impl& d_;
  PosixStopSignal& stop_;
  const CallsInFlight::Call& call_;
  int empty_wakes_ = 0;  // POLLIN with nothing queued: a dead line must not spin
  std::chrono::milliseconds backoff_{1};
};

}  // namespace

WaitResult PosixCommDevice::WaitEvent(CommStopSignal& stop_base) {
  Impl& d = *impl_;
  auto& stop = static_cast<PosixStopSignal&>(stop_base);
  if (stop.IsSet()) return {WaitOutcome::kStopped, 0, 0};
  DevError error = 0;
  const std::unique_ptr<CallsInFlight::Call> call =
      d.calls.Enter(CallsInFlight::Kind::kWait, d.fd, error);
  if (!call) return Failed(error);
  return EventWait(d, stop, *call).Run();
}

}  // namespace ornat
