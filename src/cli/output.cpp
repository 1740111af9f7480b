#include "cli/output.h"

#include "cli/terminal.h"

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

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when none.
std::size_t Utf8At(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  std::size_t n = 0;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
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
    const std::size_t n = Utf8At(text, i, cp);
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
