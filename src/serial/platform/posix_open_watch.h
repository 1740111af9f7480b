#pragma once
// PosixOpenWatch: whether anybody but this device has opened a device node since the
// last look for holders found nobody, from the kernel's inotify reports, so that the
// look through /proc (which grows with the machine) runs only when something may have
// changed.
//
// inotify reports every open of the node, whichever process makes it, root's too.
// Two consecutive identical reports in the queue are merged into one by the kernel,
// so two watches are set in one inotify instance: one on the node and one on its
// folder. Every open of the node then queues two reports that differ (the folder's
// carries the node's name), and no open can be merged into the one before: the
// node's watch counts opens exactly, ours and others'. (Two opens made within the
// same microsecond on two processors can still meet in one pair of reports; the
// kernel gives no way to tell them apart.)
//
// The full look is wanted: at the first open of a node (the watch is new), when an
// open came that was not ours, after the last look found holders (they may still be
// there), when the queue overflowed, when the node was removed, moved, created
// anew or had its attributes changed (an adapter unplugged and plugged in again),
// and whenever the watch cannot be had (inotify limits): then every open looks.
//
// The watch reads its reports only when asked; it never blocks. All calls go through
// the device's system-call seam.

#include <cstdint>
#include <string>

#include "serial/platform/posix_syscalls.h"

namespace ornat {

class PosixOpenWatch {
 public:
  explicit PosixOpenWatch(const PosixSyscalls& sys);
  ~PosixOpenWatch();
  PosixOpenWatch(const PosixOpenWatch&) = delete;
  PosixOpenWatch& operator=(const PosixOpenWatch&) = delete;

  // Before our open of `node` (its canonical path): watches it, when it is not
  // watched yet or not any more. Setting the watch before the open leaves no moment
  // in which an opener could be missed by both the watch and the look.
  void Prepare(const std::string& node);
  // Our own open of the node succeeded.
  void CountOwnOpen() { ++own_opens_; }
  // After our open: reads the reports that came and tells whether the full look must
  // run. `dev`/`ino` are the identity of what our open opened: a node other than the
  // watched one (replaced between the watch and the open) is watched anew.
  bool LookNeeded(std::uint64_t dev, std::uint64_t ino);
  // The full look found nobody: later opens skip it until a report says otherwise.
  void LookFoundNobody();
  // Drops the watch (a later Prepare sets it again).
  void Reset();

  bool Watching() const { return fd_ >= 0; }
  const std::string& node() const { return node_; }

 private:
  // Reads every queued report; false when one of them wants the full look.
  bool Drain();

  const PosixSyscalls& sys_;
  int fd_ = -1;
  int node_wd_ = -1;
  int folder_wd_ = -1;
  std::string node_;
  std::string name_;  // the node's name in its folder
  std::uint64_t dev_ = 0, ino_ = 0;
  int own_opens_ = 0;  // our opens since the last Drain
  bool look_needed_ = true;
};

}  // namespace ornat
