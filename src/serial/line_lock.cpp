#include "serial/line_lock.h"

#include <map>
#include <mutex>
#include <utility>

#include "serial/line_lock_platform.h"

namespace ornat {

namespace lp = line_lock_platform;

namespace {

// The lines this process holds, by identity, with the number of takes of each.
struct HeldLine {
  lp::Native native;
  int takes;
};
std::mutex& HeldMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<std::string, HeldLine>& HeldLines() {
  static std::map<std::string, HeldLine> lines;
  return lines;
}

// A child made by fork() starts with none: the kernel's locks stay with the parent.
void ForgetHeldLines() {
  for (const auto& [line, held] : HeldLines()) lp::Unlock(held.native);
  HeldLines().clear();
}
void WatchForks() {
  static std::once_flag once;
  std::call_once(once, [] {
    lp::AtFork([] { HeldMutex().lock(); }, [] { HeldMutex().unlock(); },
               [] {
                 ForgetHeldLines();
                 HeldMutex().unlock();
               });
  });
}

// What this process runs goes into a file another program shows: one line, no control
// characters, of a length a message can carry.
std::string Clean(const std::string& runs) {
  std::string out = runs.substr(0, 200);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

}  // namespace

LineLock::~LineLock() {
  Release();
}

LineLock::LineLock(LineLock&& other) noexcept
    : line_(std::move(other.line_)),
      port_(std::move(other.port_)),
      holder_(std::move(other.holder_)),
      error_(other.error_) {
  other.line_.clear();
  other.port_.clear();
}

LineLock& LineLock::operator=(LineLock&& other) noexcept {
  if (this != &other) {
    Release();
    line_ = std::move(other.line_);
    port_ = std::move(other.port_);
    holder_ = std::move(other.holder_);
    error_ = other.error_;
    other.line_.clear();
    other.port_.clear();
  }
  return *this;
}

LineLock::Outcome LineLock::Take(const std::string& port, const std::string& runs) {
  holder_ = {};
  error_ = 0;
  const std::string line = LineIdentity(port);
  WatchForks();
  std::lock_guard<std::mutex> lock(HeldMutex());
  auto& held = HeldLines();
  if (auto it = held.find(line); it != held.end()) {
    ++it->second.takes;
  } else {
    lp::Native native = 0;
    const Outcome outcome = lp::Lock(line, Clean(runs), native, holder_, error_);
    if (outcome != Outcome::kTaken) return outcome;
    held.emplace(line, HeldLine{native, 1});
  }
  // The line held before goes only now, so that taking the same line again never
  // lets it go in between.
  std::string before = std::exchange(line_, line);
  port_ = port;
  if (!before.empty()) {
    auto it = held.find(before);
    if (it != held.end() && --it->second.takes == 0) {
      lp::Unlock(it->second.native);
      held.erase(it);
    }
  }
  return Outcome::kTaken;
}

void LineLock::Release() {
  if (line_.empty()) return;
  std::lock_guard<std::mutex> lock(HeldMutex());
  auto& held = HeldLines();
  auto it = held.find(line_);
  if (it != held.end() && --it->second.takes == 0) {
    lp::Unlock(it->second.native);
    held.erase(it);
  }
  line_.clear();
  port_.clear();
}

std::string LineIdentity(const std::string& port) {
  return lp::Identity(port);
}

std::string ThisProgramName() {
  return lp::ProgramName();
}

int LineInUseError() {
  return lp::InUseError();
}

std::string LineHolderText(const LineHolder& holder) {
  const std::string pid = holder.pid > 0 ? "pid " + std::to_string(holder.pid) : "";
  if (holder.runs.empty()) return "another ornat program" + (pid.empty() ? "" : " (" + pid + ")");
  return holder.runs + (pid.empty() ? "" : " (" + pid + ")");
}

namespace line_lock_platform {

std::string FormatRecord(long pid, const std::string& runs) {
  return std::to_string(pid) + "\n" + runs + "\n";
}

bool ParseRecord(const std::string& text, LineHolder& holder) {
  const std::size_t first = text.find('\n');
  if (first == std::string::npos || first == 0 || first > 10) return false;
  long pid = 0;
  for (std::size_t i = 0; i < first; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    pid = pid * 10 + (text[i] - '0');
  }
  // A longer record written before may still follow the second line end.
  const std::size_t second = text.find('\n', first + 1);
  if (second == std::string::npos || pid <= 0) return false;
  holder = {pid, text.substr(first + 1, second - first - 1)};
  return true;
}

std::string FileNameOf(const std::string& identity) {
  static const char* kHex = "0123456789ABCDEF";
  // The prefix keeps a name from being a device's: on Windows "COM7" (and "COM7.x") in
  // any folder opens the serial port COM7 itself, "NUL" and "CON" theirs.
  std::string out = "line-";
  for (unsigned char c : identity) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
        c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace line_lock_platform

}  // namespace ornat
