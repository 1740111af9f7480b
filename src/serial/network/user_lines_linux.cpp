#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
  // Without blocking: a FIFO under the file's name must not hold up the start.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return FileReadEnd::kMissing;
    error = std::strerror(errno);
    return FileReadEnd::kFailed;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file";
    return FileReadEnd::kFailed;
  }
  char chunk[4096];
  while (content.size() <= limit) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error = std::strerror(errno);
    if (got <= 0) break;
    content.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (!error.empty()) return FileReadEnd::kFailed;
  if (content.size() > limit) {
    error = "it is larger than " + std::to_string(limit / 1024) + " KiB";
    return FileReadEnd::kFailed;
  }
  return FileReadEnd::kRead;
}

}  // namespace ornat
