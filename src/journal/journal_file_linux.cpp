#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "journal/journal_file.h"

namespace ornat {

JournalFile::JournalFile(const std::string& path) {
  file_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (file_ < 0) open_error_ = std::strerror(errno);
}

JournalFile::~JournalFile() {
  if (file_ >= 0) ::close(static_cast<int>(file_));
}

bool JournalFile::IsOpen() const {
  return file_ >= 0;
}

std::size_t JournalFile::Append(const char* data, std::size_t n, std::string& error) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(static_cast<int>(file_), data + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    error = std::strerror(w < 0 ? errno : ENOSPC);
    break;
  }
  return done;
}

void LocalTimeOf(std::time_t t, std::tm& local, long& offset_seconds) {
  localtime_r(&t, &local);
  offset_seconds = local.tm_gmtoff;
}

}  // namespace ornat
