#pragma once
// The user's lines file in use: where it lives, read once at start, its bad lines
// turned into one warning each for the program to report (ornat-cli on stderr, the
// window beside its other start-up warnings). Where it lives:
//   Linux:   $XDG_CONFIG_HOME/ornat/lines (~/.config/ornat/lines when that is unset)
//   Windows: %APPDATA%\ornat\lines.txt
// A missing file is no line and no warning: most PCs have none.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serial/network/lines_file.h"

namespace ornat {

// The value of an environment variable in UTF-8; nullopt when unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The process's own environment (on Windows read in UTF-16 and converted).
std::optional<std::string> SystemEnvironment(const char* name);

// Where the file is for this environment; nullopt when the variables that name it are
// unset or empty (or, on Linux, XDG_CONFIG_HOME and HOME are both relative).
std::optional<std::string> UserLinesPath(const EnvironmentLookup& env);

struct UserLines {
  std::string path;              // "" when no path could be named
  std::vector<NamedLine> lines;  // in the file's order
  // One sentence a bad line (with its number) or a file that cannot be read.
  std::vector<std::string> warnings;
};

// Reads and parses the file at path. A file larger than kMaxUserLinesBytes is not read.
UserLines ReadUserLines(const std::string& path);
inline constexpr std::size_t kMaxUserLinesBytes = 1024 * 1024;

// The file of this user, read: ReadUserLines(UserLinesPath(SystemEnvironment)).
UserLines LoadUserLines();

// How a read of a whole file ended: the platform half (user_lines_linux.cpp,
// user_lines_windows.cpp). kMissing: there is no such file (nor folder).
enum class FileReadEnd { kRead, kMissing, kFailed };
FileReadEnd ReadWholeFile(const std::string& path, std::size_t limit, std::string& content,
                          std::string& error);

}  // namespace ornat
