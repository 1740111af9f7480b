#include "console_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ornat::sim {

void Say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void ConsoleInput::ReadAndRun(bool& quit) {
  char buf[4096];
  const ssize_t got = read(STDIN_FILENO, buf, sizeof buf);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got <= 0) {
    // End of input ends the program, as the console's user has left.
    if (!buffer_.empty()) Run(buffer_, quit);
    buffer_.clear();
    open_ = false;
    quit = true;
    return;
  }
  buffer_.append(buf, static_cast<std::size_t>(got));
  std::size_t nl;
  while (!quit && (nl = buffer_.find('\n')) != std::string::npos) {
    const std::string line = buffer_.substr(0, nl);
    buffer_.erase(0, nl + 1);
    Run(line, quit);
  }
  if (buffer_.size() > 4096) {
    Say("ERR line too long");
    buffer_.clear();
  }
}

void ConsoleInput::Run(const std::string& line, bool& quit) {
  const Console::Result result = console_.Execute(line);
  for (const std::string& l : result.lines) Say(l);
  if (result.quit) quit = true;
}

}  // namespace ornat::sim
