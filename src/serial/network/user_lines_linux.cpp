#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "serial/network/user_lines.h"

namespace ornat {

std::optional<std::string> SystemEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::optional<std::string> UserLinesPath(const EnvironmentLookup& env) {
  // A relative XDG_CONFIG_HOME is invalid and is ignored, as HOME's folder is then meant.
  const auto absolute = [](const std::optional<std::string>& v) {
    return v && !v->empty() && v->front() == '/';
  };
  if (const auto config = env("XDG_CONFIG_HOME"); absolute(config)) return *config + "/ornat/lines";
  if (const auto home = env("HOME"); absolute(home)) return *home + "/.config/ornat/lines";
  return std::nullopt;
}

FileReadEnd ReadWholeFile(const std::string& path, std::size_t limit, std::string& content,
                          std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) return FileReadEnd::kMissing;
    error = std::strerror(errno);
    return FileReadEnd::kFailed;
  }
  char chunk[4096];
  std::size_t got;
  while (content.size() <= limit && (got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
    content.append(chunk, got);
  const int err = std::ferror(f) != 0 ? errno : 0;
  std::fclose(f);
  if (err != 0) {
    error = std::strerror(err);  // a folder under the file's name: "Is a directory"
    return FileReadEnd::kFailed;
  }
  if (content.size() > limit) {
    error = "it is larger than " + std::to_string(limit / 1024) + " KiB";
    return FileReadEnd::kFailed;
  }
  return FileReadEnd::kRead;
}

}  // namespace ornat
