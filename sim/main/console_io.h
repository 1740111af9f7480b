#pragma once
// The program's console: the command lines read from stdin, run one by one on the
// detectors (model/console.h), and every line the program says on stdout, flushed at
// once so that a test or a script reading the other end of a pipe sees it.

#include <string>

#include "model/bus.h"
#include "model/console.h"

namespace ornat::sim {

// One line on stdout, flushed.
void Say(const std::string& line);

class ConsoleInput {
 public:
  // `open` false: stdin is not read (--no-console).
  ConsoleInput(Bus& bus, bool open) : console_(bus), open_(open) {}

  // True until end of input on stdin (or from the start with --no-console).
  bool open() const { return open_; }

  // Reads what stdin holds and runs each whole line, saying its answer, while `quit` is
  // not set; sets `quit` when a command ends the program, and at end of input (after
  // running an unfinished last line), as the console's user has left.
  void ReadAndRun(bool& quit);

 private:
  void Run(const std::string& line, bool& quit);

  Console console_;
  bool open_;
  std::string buffer_;
};

}  // namespace ornat::sim
