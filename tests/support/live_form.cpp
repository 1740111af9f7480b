#include "support/live_form.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace ornat::testing {

LiveForm::LiveForm(const std::string& port) : program_(Environment()) {
  ports.ports = std::vector<std::string>{port};
  w().Timer_Rx.SetOnTimer([this](TObject* sender) {
    completions_.push_back(Clock::now());
    w().Timer_RxTimer(sender);
  });
  program_.Start();
}

LiveForm::~LiveForm() = default;

FormEnvironment LiveForm::Environment() {
  FormEnvironment env = FormEnvironment::Realtime(loop, gate, dialogs, device);
  env.ports = &ports;
  env.working_dir = dir.path();
  return env;
}

bool LiveForm::RunToCompletion(std::chrono::milliseconds limit) {
  const std::size_t before = completions_.size();
  return RunUntil([&] { return completions_.size() > before; }, limit);
}

int OpenFileDescriptors() {
  int n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++n;
  return n;
}

Watchdog::Watchdog(std::chrono::seconds limit)
    : thread_([this, limit] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, limit, [&] { return done_; })) {
          std::fprintf(stderr, "watchdog: the step hangs\n");
          std::abort();
        }
      }) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

}  // namespace ornat::testing
