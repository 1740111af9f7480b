#pragma once
// The journal's platform side: a file opened for appending, each buffer handed to the
// system in one write (O_APPEND and write() on Linux; FILE_APPEND_DATA and WriteFile on
// Windows, where every write goes to the end of the file as well), and the local time
// with its offset from UTC.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace ornat {

class JournalFile {
 public:
  // Opens or creates (mode 0644 on Linux) the file for appending. On failure
  // IsOpen() is false and OpenError() says why ("No such file or directory").
  explicit JournalFile(const std::string& path);
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  bool IsOpen() const;
  const std::string& OpenError() const { return open_error_; }

  // Appends the n bytes, in one system write when the system takes them whole; a
  // short write is continued and an interrupted one retried. Returns the bytes that
  // went to the file; when that is fewer than n, error says why (a full disk).
  std::size_t Append(const char* data, std::size_t n, std::string& error);

 private:
  std::string open_error_;
  // The platform's file: a descriptor on Linux, a HANDLE on Windows; -1 when not open.
  std::intptr_t file_ = -1;
};

// The local time of t, and its offset from UTC in seconds (east positive).
void LocalTimeOf(std::time_t t, std::tm& local, long& offset_seconds);

}  // namespace ornat
