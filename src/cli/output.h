#pragma once
// ornat-cli's two outputs. Everything it prints goes through here: the data on stdout,
// its messages on stderr. Texts from the command line or the line (a port name, an
// argument, a holder's program name) may hold control characters; none reaches the
// terminal raw, so a port name with ESC or BEL cannot recolour, move or ring it.
//
// A stdout that cannot be written (a full disk, a pipe whose reader has gone) is an
// error of its own: the first failure is kept, and the command's exit status tells it
// (FinishOutput). SIGPIPE must be ignored for a closed pipe to come back as EPIPE.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace ornat::cli {

// Exit status of a command that was done but whose output could not be written.
inline constexpr int kExitOutput = 5;

// The text with every control character written out: C0 (tab and newline kept), DEL
// and C1 as "\u001B" and the like, a byte that is not UTF-8 as "\xFF". Valid UTF-8
// (Cyrillic) stays as it is. JSON stays JSON: the writer escapes C0 and DEL itself,
// and a C1 escape is JSON's own form.
std::string Printable(std::string_view text);

// Writes Printable(text) to stdout and flushes it.
void Out(std::string_view text);
// "ornat-cli: " + Printable(message) and a newline on stderr.
void Err(std::string_view message);
// Printable(line) and a newline on stderr, without the program's name: the summary
// that ends a long command ("survey done: ...", "watch stopped by Ctrl-C: ...").
void Summary(std::string_view line);

// The errno of the first failed write to stdout; 0 while every write went through.
int OutputError();

// Ends the output: flushes stdout and, when any write to it failed, says so on stderr
// and turns a done command (code 0) into kExitOutput. Other codes stay: the command's
// own failure is told first.
int FinishOutput(int code);

// How a terminal takes the progress line that is redrawn in place (terminal.h tells
// which kind stderr is).
struct ProgressConsole {
  enum class Kind {
    kNone,     // no progress line: a pipe, a file
    kEscapes,  // carriage return, the text, erase to the end of the line
    kSpaces,   // carriage return, the text, spaces over what the last one left
  };
  Kind kind = Kind::kNone;
  // The console's width in characters; 0 when not known (nothing is cut).
  std::size_t columns = 0;
};

// The bytes that draw `text` over the progress line now shown, which is `shown`
// characters wide (updated to the new width); an empty text clears the line. The
// text is cut to one character less than the console's width, so that it never wraps
// (a carriage return goes back only to the start of the last row). With kSpaces the
// cursor ends right after the text, as with kEscapes.
std::string ProgressBytes(std::string_view text, const ProgressConsole& console,
                          std::size_t& shown);

// The progress line of a sweep on stderr, when it is a terminal or a console, drawn
// over in place in the way that console takes (terminal.h); redrawn at most every
// 200 ms, cleared when it goes.
class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  void Show(const std::string& text);
  void Clear();

 private:
  void Draw(const std::string& text);

  ProgressConsole console_;
  bool shown_ = false;
  std::size_t columns_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace ornat::cli
