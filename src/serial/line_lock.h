#pragma once
// LineLock: a serial line held by this process against every other ornat program of the
// user (ornat, ornat.exe, ornat-cli) for as long as a run lasts: a cyclic query, a bus
// search, a survey, an operation of several steps, a whole ornat-cli command. The port
// itself is opened for each exchange and closed by its completion; the lock is what
// keeps a second master off the line between two exchanges.
//
// - Keyed on the line, not on its spelling: the port name is resolved as the device
//   resolves it, so "ttyUSB0", "/dev/ttyUSB0" and a /dev/serial/by-id link meet, and so
//   do a virtual port's registered name and its pty; on Windows "COM3", "com3" and
//   "\\.\COM3".
// - Never waited for: a take holds the line at once or is refused at once, naming the
//   holder (its process id and what it runs). Of several that try at the same instant,
//   exactly one wins.
// - Held by a kernel lock that ends with its process, however it ends (SIGKILL and a
//   crash too), and that no child process inherits (one made by fork() holds none of
//   its parent's lines). Linux: a POSIX record lock
//   (fcntl F_SETLK) on a file per line in <runtime>/ornat/lines/, where <runtime> is
//   $XDG_RUNTIME_DIR or /tmp/ornat-<uid>, the folder of the virtual-port registry; the
//   kernel tells a refused taker the holder's pid (F_GETLK), and the file holds the
//   holder's record. Windows: LockFileEx on a file per line in
//   %LOCALAPPDATA%\ornat\lines\ (%TEMP% without it), the record beside the locked range.
// - Counted within a process: a take of a line the process holds already is free, and
//   the line goes when the process's last take is released. The first take's record
//   stands for all of them (ornat-cli's command, not the window's exchange inside it).
// - The folder is the user's own: ornat programs of another user do not meet here; the
//   device's exclusive open stands between them at each exchange.
//
// A LineLock is used on one thread at a time; the count behind it is safe for several.

#include <string>

namespace ornat {

// Who holds a line, as a refused taker is told.
struct LineHolder {
  long pid = 0;  // 0: not known
  // What it runs: "ornat-cli watch --port ornat-sim", "ornat: cyclic query"; "" when
  // its record could not be read.
  std::string runs;
  bool operator==(const LineHolder&) const = default;
};

class LineLock {
 public:
  enum class Outcome {
    kTaken,        // this LineLock holds the line
    kInUse,        // another process holds it: Holder() says who
    kUnavailable,  // the lock file cannot be had (Error() says why); nothing is held
  };

  LineLock() = default;
  ~LineLock();
  LineLock(LineLock&& other) noexcept;
  LineLock& operator=(LineLock&& other) noexcept;
  LineLock(const LineLock&) = delete;
  LineLock& operator=(const LineLock&) = delete;

  // Takes the line that `port` leads to. `runs` tells a refused taker what this process
  // runs (control characters become '?'). A LineLock that holds a line already lets
  // it go once the new one is held, and keeps it when the take fails.
  Outcome Take(const std::string& port, const std::string& runs);
  // One take less; the line goes with the process's last one. Nothing held: nothing.
  void Release();

  bool Held() const { return !line_.empty(); }
  // The port name the line was taken under, as given ("" when nothing is held).
  const std::string& Port() const { return port_; }
  // After kInUse: the holder.
  const LineHolder& Holder() const { return holder_; }
  // After kUnavailable: the system's error number (errno, GetLastError()).
  int Error() const { return error_; }

 private:
  std::string line_;  // the line's identity while held
  std::string port_;
  LineHolder holder_;
  int error_ = 0;
};

// The line a port name leads to: the same text for every spelling of one line (the
// device's canonical path on Linux, the upper-case device name on Windows).
std::string LineIdentity(const std::string& port);

// This program's file name ("ornat-cli", "ornat", "ornat.exe"), to begin what it runs.
std::string ThisProgramName();

// The platform's error number for a port that is in use (EBUSY; ERROR_BUSY on
// Windows): what a send refused by another process's hold of the line fails with.
int LineInUseError();

// "ornat-cli watch --port ornat-sim (pid 4711)"; "another ornat program" for a holder
// of whom nothing could be read.
std::string LineHolderText(const LineHolder& holder);

}  // namespace ornat
