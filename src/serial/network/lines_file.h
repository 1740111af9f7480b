#pragma once
// The user's lines file: lines named by the user, each a network URL or a device path
// the Port menu cannot find by itself (a socat link such as /tmp/ttyV0). One
// "NAME = TARGET" a line, optionally followed by " net-delay=MS", the round-trip
// allowance of that line in milliseconds (0 to 10000); blank lines and lines beginning
// with '#' are skipped. A bad line is reported with its number and the rest of the file
// is used.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/network/port_url.h"

namespace ornat {

struct NamedLine {
  std::string name;    // as written, spaces around it dropped
  std::string target;  // a URL ParsePortUrl takes, or a device path
  // net-delay=MS: added to every response timeout on this line; unset: the default of
  // the line's kind.
  std::optional<int> net_delay_ms;
  int line_number = 0;
};

struct LinesFileProblem {
  int line_number = 0;
  std::string text;  // what is wrong, a sentence without the line number
};

struct LinesFile {
  std::vector<NamedLine> lines;  // in the file's order
  std::vector<LinesFileProblem> problems;
};

// The lines of the file's text. Lines may end in "\n" or "\r\n"; a UTF-8 byte order
// mark at the start is skipped. Problems: no '=', an empty name or target, a name that
// is itself a URL, a target with a scheme that ParsePortUrl refuses (its error), a
// net-delay that is not a whole number of 0 to 10000, a name given twice (the first one
// is kept).
LinesFile ParseLinesFile(std::string_view text);

}  // namespace ornat
