#pragma once
// What the POSIX device reports for the errno of a failed system call. The meaning of
// every errno, for the device and for the port's portable kind, is one table:
// port_error_kind_linux.cpp.

#include "serial/platform/comm_device.h"

namespace ornat {

// The call that failed. A refused flock is the one whose EWOULDBLOCK means a port in
// use; elsewhere EAGAIN can only have escaped a wait the device should have made.
enum class PosixOp { kOpen, kLock, kSettings, kRead, kWrite, kWait, kQuery, kPurge, kClose };

// The errno itself, except where the table gives another for the call: a held lock
// reads as EBUSY (the port is held), an escaped EAGAIN as EIO; 0 stays 0.
DevError TranslateErrno(int err, PosixOp op);

// True for the errno of a modem/counter ioctl that the device does not have (a pty):
// ENOTTY, or EINVAL on kernels before 5.13. Read as "unsupported", not as a failure.
bool IsUnsupportedIoctl(int err);

}  // namespace ornat
