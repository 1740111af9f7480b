// PosixCommDevice's transfers: blocking reads and writes on the non-blocking
// descriptor, with the Win32 timeouts kept around poll() (read_plan.h) and ended at
// once by a purge with abort.

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <optional>

#include "serial/platform/posix_comm_device.h"
#include "serial/platform/posix_device_state.h"
#include "serial/platform/read_plan.h"

namespace ornat {

namespace {

long long NanosUntil(PosixClock::time_point deadline) {
  auto d = deadline - PosixClock::now();
  if (d <= PosixClock::duration::zero()) return 0;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
}

}  // namespace

IoResult PosixCommDevice::Read(void* buffer, int count) {
  Impl& d = *impl_;
  int f;
  CommTimeouts to;
  bool discard_null;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    f = d.fd;
    to = d.timeouts;
    discard_null = d.have_line && d.line.fNull;
  }
  if (f < 0) return {EBADF, 0};
  if (count <= 0) return {0, 0};
  DevError reg_error = 0;
  const std::unique_ptr<CallsInFlight::Call> call =
      d.calls.Enter(CallsInFlight::Kind::kRead, d.fd, reg_error);
  if (!call) return {reg_error, 0};
  f = call->fd();

  const ReadPlan plan = PlanRead(to, count);
  const auto start = PosixClock::now();
  auto* out = static_cast<std::uint8_t*>(buffer);
  int got = 0;
  PosixClock::time_point last_byte{};
  bool hung = false;
  for (;;) {
    long n = RetryOnInterrupt(
        [&] { return d.sys.read(f, out + got, static_cast<unsigned long>(count - got)); });
    if (n > 0) {
      int kept = static_cast<int>(n);
      if (discard_null) {  // fNull: received null bytes are dropped
        int w = got;
        for (int i = got; i < got + static_cast<int>(n); ++i)
          if (out[i] != 0) out[w++] = out[i];
        kept = w - got;
      }
      got += kept;
      if (kept > 0) last_byte = PosixClock::now();
      d.consumed.fetch_add(static_cast<std::uint64_t>(n));
      if (got >= count) break;
      continue;  // take what else is there before waiting
    }
    if (n == 0 || errno == EIO) {  // end of file, or EIO: the other side is gone
      hung = true;
      break;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) return {TranslateErrno(errno, PosixOp::kRead), 0};
    // Nothing queued right now.
    if (plan.EndsWithWhatIsQueued(got)) break;
    const std::optional<PosixClock::time_point> deadline = plan.Deadline(start, last_byte, got);
    if (deadline && PosixClock::now() >= *deadline) break;
    struct pollfd fds[2] = {{f, POLLIN, 0}, {call->efd(), POLLIN, 0}};
    int r = d.sys.poll(fds, 2, deadline ? NanosUntil(*deadline) : -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return {TranslateErrno(errno, PosixOp::kRead), 0};
    }
    if (fds[1].revents & POLLIN) return {ECANCELED, 0};  // PURGE_RXABORT (or Close)
    // A hang-up: take what is still queued, then report it.
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLIN)) {
      hung = true;
      break;
    }
  }
  if (hung) {
    d.hung_up.store(true);
    if (got == 0) return {EIO, 0};
  }
  return {0, got};
}

IoResult PosixCommDevice::Write(const void* buffer, int count) {
  Impl& d = *impl_;
  int f, wake;
  CommTimeouts to;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    f = d.fd;
    wake = d.wake_efd;
    to = d.timeouts;
  }
  if (f < 0) return {EBADF, 0};
  if (count <= 0) return {0, 0};
  DevError reg_error = 0;
  const std::unique_ptr<CallsInFlight::Call> call =
      d.calls.Enter(CallsInFlight::Kind::kWrite, d.fd, reg_error);
  if (!call) return {reg_error, 0};
  f = call->fd();

  const std::uint32_t M = to.WriteTotalTimeoutMultiplier, C = to.WriteTotalTimeoutConstant;
  std::optional<PosixClock::time_point> deadline;
  if (M != 0 || C != 0)
    deadline =
        PosixClock::now() + std::chrono::milliseconds(static_cast<std::uint64_t>(M) * count + C);
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  int sent = 0;
  IoResult result{0, 0};
  for (;;) {
    long n = RetryOnInterrupt(
        [&] { return d.sys.write(f, in + sent, static_cast<unsigned long>(count - sent)); });
    if (n > 0) {
      sent += static_cast<int>(n);
      if (sent >= count) break;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (errno == EIO) d.hung_up.store(true);
      result.error = TranslateErrno(errno, PosixOp::kWrite);
      break;
    }
    if (deadline && PosixClock::now() >= *deadline) break;  // out of time: no error
    struct pollfd fds[2] = {{f, POLLOUT, 0}, {call->efd(), POLLIN, 0}};
    int r = d.sys.poll(fds, 2, deadline ? NanosUntil(*deadline) : -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      result.error = TranslateErrno(errno, PosixOp::kWrite);
      break;
    }
    if (fds[1].revents & POLLIN) {
      result.error = ECANCELED;  // PURGE_TXABORT
      break;
    }
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLOUT)) {
      d.hung_up.store(true);
      result.error = EIO;
      break;
    }
  }
  if (sent > 0) {
    d.tx_pending.store(true);
    PokeEventfd(d.sys, wake);  // a waiting WaitEvent starts watching for EV_TXEMPTY
  }
  if (result.error != 0) return result;
  return {0, sent};
}

}  // namespace ornat
