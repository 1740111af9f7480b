// The "comports.txt" reader: any bytes give at most ten names, each a piece of the
// input without its line terminator.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "serial/port_discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string content(reinterpret_cast<const char*>(data), size);
  auto lines = ornat::SplitPortListLines(content, 10);
  if (lines.size() > 10) std::abort();
  std::size_t total = 0;
  for (const auto& l : lines) {
    if (l.find('\n') != std::string::npos) std::abort();
    total += l.size();
  }
  if (total > size) std::abort();
  return 0;
}
