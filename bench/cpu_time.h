#pragma once
// The CPU time this process has used, user and system, in seconds (getrusage).

#include <sys/resource.h>
#include <sys/time.h>

namespace ornat::bench {

inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

}  // namespace ornat::bench
