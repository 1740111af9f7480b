// The "comports.txt" reader: any bytes give at most ten names, each a piece of the
// input without its line terminator (LF, or CR LF), in order and with nothing of the
// input skipped; fewer than ten names only when the input has no more lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "serial/port_discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const auto lines = ornat::SplitPortListLines(content, 10);
  if (lines.size() > 10) std::abort();
  std::size_t pos = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (l.find('\n') != std::string::npos) std::abort();
    if (content.compare(pos, l.size(), l) != 0) std::abort();
    pos += l.size();
    if (pos == size) {
      // The last line, without a terminator.
      if (i + 1 != lines.size()) std::abort();
      break;
    }
    if (content[pos] == '\n')
      pos += 1;
    else if (content.compare(pos, 2, "\r\n") == 0)
      pos += 2;
    else
      std::abort();
  }
  if (lines.size() < 10 && pos != size) std::abort();
  return 0;
}
