#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "cli/terminal.h"

namespace ornat::cli {

namespace {

volatile std::sig_atomic_t* g_stop_flag = nullptr;

extern "C" void OnStopSignal(int) {
  if (g_stop_flag != nullptr) *g_stop_flag = 1;
}

}  // namespace

void SetUpTerminal(volatile std::sig_atomic_t* stop_flag) {
  g_stop_flag = stop_flag;
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

ProgressConsole ProgressTerminal() {
  if (isatty(STDERR_FILENO) != 1) return {};
  return {ProgressConsole::Kind::kEscapes, 0};
}

bool OutputTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

bool WriteStream(std::FILE* stream, std::string_view bytes) {
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), stream);
  return std::fflush(stream) == 0 && written == bytes.size();
}

void BeforeWrite() {}

std::string WriteFailureText(int crt_errno) {
  return std::strerror(crt_errno);
}

}  // namespace ornat::cli
