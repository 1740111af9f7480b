#include "serial/platform/posix_calls_in_flight.h"

#include <sys/eventfd.h>

#include <cerrno>

#include "serial/platform/posix_errno.h"

namespace ornat {

std::unique_ptr<CallsInFlight::Call> CallsInFlight::Enter(Kind kind, const int& fd,
                                                          DevError& error) {
  const int efd = sys_.eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (efd < 0) {
    error = TranslateErrno(errno, PosixOp::kRead);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(mu_);
  if (fd < 0) {
    sys_.close(efd);
    error = EBADF;
    return nullptr;
  }
  auto call = std::make_unique<Call>(*this, kind);
  call->fd_ = fd;
  call->efd_ = efd;
  calls_.push_back(call.get());
  error = 0;
  return call;
}

void CallsInFlight::Leave(Call* call) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.remove(call);
  }
  left_.notify_all();
  sys_.close(call->efd_);
}

void CallsInFlight::Abort(std::uint32_t purge_flags) const {
  for (const Call* c : calls_) {
    if ((c->kind_ == Kind::kRead && (purge_flags & PURGE_RXABORT)) ||
        (c->kind_ == Kind::kWrite && (purge_flags & PURGE_TXABORT)))
      PokeEventfd(sys_, c->efd_);
  }
}

void CallsInFlight::EndAll(std::unique_lock<std::mutex>& lock) {
  for (const Call* c : calls_) PokeEventfd(sys_, c->efd_);
  left_.wait(lock, [&] { return calls_.empty(); });
}

}  // namespace ornat
