#pragma once
// The lines and the whole text of a file a test reads back (a journal, a catalogue),
// and the lines of a program's output.

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ornat::testing {

// The file's lines without their '\n' (none when it cannot be opened).
inline std::vector<std::string> FileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The file's bytes as they are ("" when it cannot be opened).
inline std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines of a text without their '\n'; a last line without one counts, "" has none.
inline std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    lines.push_back(text.substr(pos, nl - pos));
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return lines;
}

}  // namespace ornat::testing
