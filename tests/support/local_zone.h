#pragma once
// LocalZone: the time zone of the local time (the TZ variable, POSIX form "XYZ-02",
// which Windows' C library reads too) set for one test and put back after it
// (local_zone_linux.cpp, local_zone_windows.cpp).

#include <optional>
#include <string>

namespace ornat::testing {

class LocalZone {
 public:
  explicit LocalZone(const char* tz);
  ~LocalZone();
  LocalZone(const LocalZone&) = delete;
  LocalZone& operator=(const LocalZone&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace ornat::testing
