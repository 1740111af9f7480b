#include <signal.h>
#include <unistd.h>

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
}

bool ProgressTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace ornat::cli
