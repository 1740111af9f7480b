#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "journal/journal_file.h"

namespace ornat {

JournalFile::JournalFile(const std::string& path) {
  // Never an open that waits for another program: a FIFO's waits for a reader (for
  // ever, with nobody there), a terminal's may wait for its carrier. O_NONBLOCK makes
  // such an open return at once; what it opened is then looked at.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
  const int open_error = errno;
  struct stat st {};
  const bool looked = fd >= 0 ? ::fstat(fd, &st) == 0 : ::stat(path.c_str(), &st) == 0;
  if (looked && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
    if (fd >= 0) ::close(fd);
    open_error_ = std::string("it is a ") +
                  (S_ISFIFO(st.st_mode) ? "FIFO (named pipe)" : "socket") +
                  ", whose open would wait for another program; give a regular file";
    return;
  }
  if (fd < 0) {
    open_error_ = std::strerror(open_error);
    return;
  }
  // Writes wait as usual: a line is given to the kernel whole.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  file_ = fd;
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
