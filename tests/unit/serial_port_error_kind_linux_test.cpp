// What an errno means for a port on Linux, as the engine, the holder look and
// ornat-cli read it: one kind per errno, whatever the step.

#include <gtest/gtest.h>

#include <cerrno>

#include "serial/platform/posix_errno.h"
#include "serial/port_error_kind.h"

namespace ornat {
namespace {

TEST(PortErrorKindLinux, EachErrnoIsOneKindAtEveryStep) {
  struct Case {
    int error;
    PortErrorKind kind;
  } cases[] = {
      {0, PortErrorKind::kNone},        {ENOENT, PortErrorKind::kMissing},
      {EACCES, PortErrorKind::kDenied}, {EPERM, PortErrorKind::kDenied},
      {EBUSY, PortErrorKind::kBusy},    {ENOTTY, PortErrorKind::kNotSerial},
      {EIO, PortErrorKind::kGone},      {ENXIO, PortErrorKind::kGone},
      {ENODEV, PortErrorKind::kGone},   {EPIPE, PortErrorKind::kGone},
      {ELOOP, PortErrorKind::kOther},   {EINVAL, PortErrorKind::kOther},
  };
  for (const Case& c : cases)
    for (PortStep step : {PortStep::kOpen, PortStep::kSetUp, PortStep::kUse})
      EXPECT_EQ(ClassifyPortError(c.error, step), c.kind) << c.error;
}

TEST(PortErrorKindLinux, WhatTheDeviceReportsKeepsWhatTheCallsErrnoMeant) {
  // A lock another program holds: busy, as an open it refused; an EAGAIN that escaped
  // a wait: a device that went.
  EXPECT_EQ(ClassifyPortError(TranslateErrno(EWOULDBLOCK, PosixOp::kLock), PortStep::kOpen),
            PortErrorKind::kBusy);
  EXPECT_EQ(ClassifyPortError(TranslateErrno(EAGAIN, PosixOp::kWrite), PortStep::kUse),
            PortErrorKind::kGone);
}

}  // namespace
}  // namespace ornat
