#pragma once
// The journal: every exchange appended to a file as one JSON line, by the window
// (ornat --journal FILE) and by ornat-cli alike. A line holds the time the exchange
// ended (ISO 8601, milliseconds, local offset), the program, the port, the PC's bit
// rate, the slave address, the operation, how it ended and its outcome, the request and
// the bytes handed over in hexadecimal, and the log pane's lines as it showed them.
//
// Nothing is lost when the program is killed: the file is opened for appending
// (O_APPEND; FILE_APPEND_DATA on Windows) and each line goes to the system in one write
// as its exchange ends, so a completed exchange is in the file whatever happens to the
// process afterwards. There is no fsync: only the loss of the whole machine (power,
// kernel) could take lines the system already has, and a sync per exchange would stall
// the user-interface thread, inside the completion, for as long as the disk takes. One
// write per line also keeps the lines of two programs appending to one journal whole.

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "modbus/exchange_observer.h"

namespace ornat {

// The journal file cannot be opened; what() says which file and why.
class JournalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "F7 03 00 00 00 08 50 9A": upper-case pairs separated by one space; "" for none.
std::string HexText(const std::vector<std::uint8_t>& bytes);

// "2024-05-02T14:03:07.123+02:00": local time with its offset from UTC.
std::string IsoLocalTime(std::chrono::system_clock::time_point t);

class JournalFile;

class ExchangeJournal : public ExchangeObserver {
 public:
  using WallClock = std::function<std::chrono::system_clock::time_point()>;
  using ErrorSink = std::function<void(const std::string& message)>;

  // Opens (or creates, mode 0644) the file for appending. Throws JournalError.
  // program: "ornat" or "ornat-cli", written into every line.
  ExchangeJournal(const std::string& path, std::string program,
                  WallClock clock = &std::chrono::system_clock::now);
  ~ExchangeJournal() override;
  ExchangeJournal(const ExchangeJournal&) = delete;
  ExchangeJournal& operator=(const ExchangeJournal&) = delete;

  // Appends the exchange's line. A write that fails (disk full) is told to the error
  // sink once, with the file's name; later exchanges are still tried. A line cut short
  // by the failure is ended before the next one, so that one parses whole.
  void ExchangeEnded(const ExchangeRecord& record) override;
  void SetErrorSink(ErrorSink sink) { on_error_ = std::move(sink); }
  // The first write error, or "".
  const std::string& Error() const { return error_; }
  // Exchanges whose line is not (or not whole) in the file.
  int LinesLost() const { return lines_lost_; }
  const std::string& Path() const { return path_; }

  // One journal line (without its newline).
  static std::string Line(const ExchangeRecord& record, const std::string& program,
                          std::chrono::system_clock::time_point when);

 private:
  std::string path_;
  std::string program_;
  WallClock clock_;
  std::unique_ptr<JournalFile> file_;
  std::string error_;
  int lines_lost_ = 0;
  bool cut_short_ = false;  // the file ends inside a line
  ErrorSink on_error_;
};

}  // namespace ornat
