#include "wire_log.h"

#include <time.h>

#include <cerrno>
#include <cstring>

namespace ornat::sim {

WireLog::~WireLog() {
  if (file_) std::fclose(file_);
}

bool WireLog::Open(const std::string& path, std::string& error) {
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) {
    error = "cannot open wire log " + path + ": " + std::strerror(errno);
    return false;
  }
  // steady_clock is CLOCK_MONOTONIC on Linux: the header lets other processes on the
  // machine put our times on their own clock.
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t0_.time_since_epoch());
  std::fprintf(file_, "# ornat-sim wire log; t0 = CLOCK_MONOTONIC %lld.%09lld s\n",
               static_cast<long long>(ns.count() / 1'000'000'000),
               static_cast<long long>(ns.count() % 1'000'000'000));
  std::fflush(file_);
  return true;
}

std::string WireLog::Stamp(Clock::time_point at) const {
  const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at - t0_).count();
  char buf[48];
  std::snprintf(buf, sizeof buf, "%lld.%03lld", ns / 1000, ns % 1000);
  return buf;
}

void WireLog::Line(Clock::time_point at, const char* dir, std::span<const std::uint8_t> bytes,
                   const std::string& tail) {
  if (!file_) return;
  std::string line = Stamp(at) + " " + dir;
  char hex[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, " %02X", b);
    line += hex;
  }
  line += tail;
  line += '\n';
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

void WireLog::Rx(Clock::time_point at, std::span<const std::uint8_t> bytes,
                 const std::string& note) {
  Line(at, "RX", bytes, note.empty() ? "" : " note=" + note);
}

void WireLog::Tx(Clock::time_point first, Clock::time_point last,
                 std::span<const std::uint8_t> bytes, const std::string& note) {
  std::string tail = " last=" + Stamp(last);
  if (!note.empty()) tail += " note=" + note;
  Line(first, "TX", bytes, tail);
}

void WireLog::Event(Clock::time_point at, const std::string& text) {
  if (!file_) return;
  const std::string line = Stamp(at) + " EV " + text + "\n";
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

}  // namespace ornat::sim
