#pragma once
// A test that needs what the test command provides (the Windows build and its Wine
// prefix, a display, socat, pymodbus) and lacks it skips, saying what is missing, so
// that plain `ctest` in any build folder is green. The test command sets
// ORNAT_TESTS_NO_SKIP=1: there it fails instead, as a skip there would test nothing.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace ornat::testing {

inline bool SkipsAreFailures() {
  const char* v = std::getenv("ORNAT_TESTS_NO_SKIP");
  return v != nullptr && *v != '\0' && std::string(v) != "0";
}

// What the Wine tests lack of the Windows phase's set-up (scripts/test-windows.sh:
// ORNAT_WIN32_BUILD with the `programs` under it, WINEPREFIX, ORNAT_WINE_PORTS), or "".
inline std::string WineSetupMissing(const std::vector<std::string>& programs) {
  auto setting = [](const char* name) -> std::string {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
  };
  const std::string phase = " (scripts/test-windows.sh sets it up)";
  const std::string build = setting("ORNAT_WIN32_BUILD");
  if (build.empty()) return "ORNAT_WIN32_BUILD names no Windows build" + phase;
  if (!std::filesystem::exists(setting("WINEPREFIX") + "/system.reg"))
    return "no Wine prefix in WINEPREFIX" + phase;
  if (setting("ORNAT_WINE_PORTS").empty()) return "no ORNAT_WINE_PORTS" + phase;
  for (const std::string& p : programs)
    if (!std::filesystem::exists(build + "/" + p)) return "no " + p + " in " + build + phase;
  return "";
}

// "" when `python` imports `module`, else what is missing.
inline std::string PythonModuleMissing(const std::string& python, const std::string& module,
                                       const std::string& package) {
  const int status = std::system((python + " -c 'import " + module + "' 2>/dev/null").c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return python + " cannot import " + module + " (apt-get install " + package + ")";
  return "";
}

}  // namespace ornat::testing

// Skips the running test, saying why, when `missing` is not empty; under
// ORNAT_TESTS_NO_SKIP it fails instead. In a test body or a fixture's SetUp.
#define ORNAT_SKIP_IF_MISSING(missing)                                                  \
  do {                                                                                  \
    const std::string ornat_missing_ = (missing);                                       \
    if (!ornat_missing_.empty()) {                                                      \
      if (::ornat::testing::SkipsAreFailures())                                         \
        FAIL() << ornat_missing_ << "; ORNAT_TESTS_NO_SKIP is set: this test must run"; \
      GTEST_SKIP() << ornat_missing_;                                                   \
    }                                                                                   \
  } while (false)
