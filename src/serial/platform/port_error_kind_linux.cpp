// What an errno means for a port, in one table: its portable kind, and the number the
// POSIX device reports for it.

#include <cerrno>

#include "serial/platform/posix_errno.h"
#include "serial/port_error_kind.h"

namespace ornat {

const bool kPlatformNamesHolders = true;
const char* const kPlatformErrorLabel = "";

namespace {

struct ErrnoMeaning {
  int error;
  bool flock_only;  // what the number means when flock refuses the lock
  PortErrorKind kind;
  DevError reported;
};

constexpr ErrnoMeaning kErrnoMeanings[] = {
    // Another ornat (or a program of root's) holds the lock: the port is in use.
    {EWOULDBLOCK, true, PortErrorKind::kBusy, EBUSY},
    // The descriptor is non-blocking and the device waits itself: an EAGAIN that
    // escapes is a device that stopped answering.
    {EAGAIN, false, PortErrorKind::kGone, EIO},
    {EBUSY, false, PortErrorKind::kBusy, EBUSY},
    {EACCES, false, PortErrorKind::kDenied, EACCES},
    {EPERM, false, PortErrorKind::kDenied, EPERM},
    {ENOENT, false, PortErrorKind::kMissing, ENOENT},
    // /dev/null, a FIFO, a regular file: no line settings can be set on it.
    {ENOTTY, false, PortErrorKind::kNotSerial, ENOTTY},
    // A hung-up tty, an adapter unplugged, a pty whose other side closed.
    {EIO, false, PortErrorKind::kGone, EIO},
    {ENXIO, false, PortErrorKind::kGone, ENXIO},
    {ENODEV, false, PortErrorKind::kGone, ENODEV},
    {EPIPE, false, PortErrorKind::kGone, EPIPE},
    // A network line's server that dropped the connection while the port was open.
    {ECONNRESET, false, PortErrorKind::kGone, ECONNRESET},
    {ECONNABORTED, false, PortErrorKind::kGone, ECONNABORTED},
    {ENOTCONN, false, PortErrorKind::kGone, ENOTCONN},
};

const ErrnoMeaning* MeaningOf(int error, bool flock) {
  for (const ErrnoMeaning& m : kErrnoMeanings)
    if (m.error == error && (flock || !m.flock_only)) return &m;
  return nullptr;
}

}  // namespace

PortErrorKind ClassifyPortError(int system_error, PortStep /*step*/) {
  if (system_error == 0) return PortErrorKind::kNone;
  const ErrnoMeaning* m = MeaningOf(system_error, false);
  return m != nullptr ? m->kind : PortErrorKind::kOther;
}

DevError TranslateErrno(int err, PosixOp op) {
  const ErrnoMeaning* m = MeaningOf(err, op == PosixOp::kLock);
  return m != nullptr ? m->reported : err;
}

bool IsUnsupportedIoctl(int err) {
  return err == ENOTTY || err == EINVAL;
}

}  // namespace ornat
