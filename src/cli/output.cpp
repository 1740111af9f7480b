#include "cli/output.h"

#include "cli/terminal.h"
#include "text/utf8.h"

#include <cerrno>
#include <cstdio>

namespace ornat::cli {

namespace {

int g_output_error = 0;
std::string g_output_error_text;

void NoteOutputError() {
  if (g_output_error != 0) return;
  g_output_error = errno != 0 ? errno : EIO;
  g_output_error_text = WriteFailureText(g_output_error);
}

// "\\u" and four hex digits for a code point, "\\x" and two for a stray byte.
void Escape(std::string& out, const char* prefix, unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t n = ornat::text::Utf8SequenceAt(text, i, cp);
    if (n == 0) {
      // A byte that is not UTF-8: 0x9B alone is CSI on an 8-bit terminal.
      Escape(out, "\\x", static_cast<unsigned char>(text[i]), 2);
      ++i;
      continue;
    }
    const bool control = (cp < 0x20 && cp != '\n' && cp != '\t') || (cp >= 0x7F && cp <= 0x9F);
    if (control)
      Escape(out, "\\u", static_cast<unsigned>(cp), 4);
    else
      out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

void Out(std::string_view text) {
  const std::string safe = Printable(text);
  errno = 0;
  BeforeWrite();
  if (!WriteStream(stdout, safe)) NoteOutputError();
}

void Err(std::string_view message) {
  const std::string line = "ornat-cli: " + Printable(message) + "\n";
  WriteStream(stderr, line);
}

void Summary(std::string_view line) {
  WriteStream(stderr, Printable(line) + "\n");
}

int OutputError() {
  return g_output_error;
}

int FinishOutput(int code) {
  errno = 0;
  BeforeWrite();
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) NoteOutputError();
  if (g_output_error == 0) return code;
  Err("cannot write to standard output: " + g_output_error_text +
      (code == 0 ? "; the command was done, only what it printed is lost" : ""));
  return code == 0 ? kExitOutput : code;
}

std::string ProgressBytes(std::string_view text, const ProgressConsole& console,
                          std::size_t& shown) {
  // Characters, not bytes: a UTF-8 sequence is one.
  std::size_t width = 0;
  std::size_t cut = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (console.columns > 1 && width == console.columns - 1) {
      cut = i;
      break;
    }
    ++width;
  }
  const std::string_view drawn = text.substr(0, cut);
  std::string out = "\r";
  out += drawn;
  if (console.kind == ProgressConsole::Kind::kEscapes) {
    out += "\033[K";
  } else if (shown > width) {
    out.append(shown - width, ' ');
    out += '\r';
    out += drawn;
  }
  shown = width;
  return out;
}

}  // namespace ornat::cli

namespace ornat::cli {

ProgressLine::ProgressLine() : console_(ProgressTerminal()) {}

ProgressLine::~ProgressLine() {
  Clear();
}

void ProgressLine::Show(const std::string& text) {
  using namespace std::chrono_literals;
  if (console_.kind == ProgressConsole::Kind::kNone) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_ < 200ms) return;
  last_ = now;
  shown_ = true;
  Draw(text);
}

void ProgressLine::Clear() {
  if (!shown_) return;
  Draw("");
  shown_ = false;
}

void ProgressLine::Draw(const std::string& text) {
  WriteStream(stderr, ProgressBytes(text, console_, columns_));
}

}  // namespace ornat::cli
