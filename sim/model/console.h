#pragma once
// The text commands that drive simulated detectors: the interactive console of
// ornat-sim, its --detector options, and scripted tests all go through here.
//
// A command line is a verb and its arguments separated by blanks. Detector commands act
// on the selected detector (the first one at start; `select ADDR`, or `@ADDR` in front
// of a single command). Every command answers with zero or more lines and ends with one
// line that begins with "OK" or "ERR". Numbers are decimal or 0x-prefixed hex.

#include <string>
#include <string_view>
#include <vector>

#include "model/bus.h"

namespace ornat::sim {

// Applies one detector command (verb and arguments, e.g. "tactic" {"3"}) to `detector`.
// Returns an empty string on success, else what is wrong.
std::string ApplyDetectorCommand(Bus::Detector& detector, std::string_view verb,
                                 const std::vector<std::string_view>& args);

// Builds a detector from "ADDR[:OPT,OPT...]"; each OPT is a detector command written
// "verb=arg" or "verb" alone (an on/off command alone means on), with '@' separating a
// second argument: "5:speed=6,crc=0.5,echo,pause=200@10,id=0x11". On error returns
// false and says why in `error`.
bool ParseDetectorDefinition(std::string_view definition, Bus::Detector& out, std::string& error);

// One line describing a detector: "#0 addr=247 speed=4 (9600) id=0x0010 state=0 ...".
std::string DescribeDetector(const Bus& bus, std::size_t index);

// The console's command summary, one command per line.
std::vector<std::string> ConsoleHelp();

class Console {
 public:
  struct Result {
    std::vector<std::string> lines;  // the last begins with "OK" or "ERR"
    bool quit = false;               // the command asks the program to end
  };

  explicit Console(Bus& bus) : bus_(bus) {}

  // Runs one command line. Blank lines and lines starting with '#' do nothing and
  // return no lines.
  Result Execute(std::string_view line);

  std::size_t selected() const { return selected_; }

 private:
  Bus& bus_;
  std::size_t selected_ = 0;
};

// Parses a whole number (decimal or 0x hex) within [lo, hi].
bool ParseNumber(std::string_view text, long long lo, long long hi, long long& out);

}  // namespace ornat::sim
