#pragma once
// The ways a TCP connection may hand over one stream of bytes: whole, one byte per
// read, and cut in two at every place. A decoder that keeps its state across reads
// must make the same of each.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ornat::testing {

using Chunks = std::vector<std::vector<std::uint8_t>>;

// Calls check(chunks, how) for each way of reading bytes; how names the way ("whole",
// "byte by byte", "cut after 3") for a failure's message.
inline void ForEachSplit(const std::vector<std::uint8_t>& bytes,
                         const std::function<void(const Chunks&, const std::string&)>& check) {
  check({bytes}, "whole");
  Chunks single;
  for (std::uint8_t b : bytes) single.push_back({b});
  check(single, "byte by byte");
  for (std::size_t cut = 1; cut < bytes.size(); ++cut)
    check({{bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)},
           {bytes.begin() + static_cast<std::ptrdiff_t>(cut), bytes.end()}},
          "cut after " + std::to_string(cut));
}

}  // namespace ornat::testing
