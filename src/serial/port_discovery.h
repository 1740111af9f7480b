#pragma once
// Port discovery helpers: the fallback port list file "comports.txt", the menu's size.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace ornat {

// The Port menu holds at most this many items: the ports found, then the named lines.
inline constexpr std::size_t kMaxPortItems = 32;

// An error of the file path of port discovery; what() is the text shown in the log
// after "ФАЙЛ "СOMPORTS.TXT": - " ("File not found" for a missing file).
class EPortListFile : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The text the framework gives for a failed file operation with errno err.
std::string FileErrorText(int err);

// Splits the content of a port list file into at most max_lines names: a line ends
// with LF or CR LF, neither of which belongs to the name; nothing else is trimmed; an
// empty line is an empty name; a last line without terminator counts.
std::vector<std::string> SplitPortListLines(const std::string& content, std::size_t max_lines);

// Reads at most max_lines names from the file at path. Throws EPortListFile.
std::vector<std::string> ReadPortListFile(const std::string& path, std::size_t max_lines);

}  // namespace ornat
