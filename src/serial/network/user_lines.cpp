#include "serial/network/user_lines.h"

namespace ornat {

UserLines ReadUserLines(const std::string& path) {
  UserLines user;
  user.path = path;
  const std::string where = "the lines file \"" + path + "\"";
  std::string content, error;
  switch (ReadWholeFile(path, kMaxUserLinesBytes, content, error)) {
    case FileReadEnd::kMissing:
      return user;
    case FileReadEnd::kFailed:
      user.warnings.push_back(where + " cannot be read: " + error);
      return user;
    case FileReadEnd::kRead:
      break;
  }
  LinesFile file = ParseLinesFile(content);
  user.lines = std::move(file.lines);
  for (const LinesFileProblem& p : file.problems)
    user.warnings.push_back(where + ", line " + std::to_string(p.line_number) + ": " + p.text);
  return user;
}

UserLines LoadUserLines() {
  const std::optional<std::string> path = UserLinesPath(SystemEnvironment);
  return path ? ReadUserLines(*path) : UserLines{};
}

}  // namespace ornat
