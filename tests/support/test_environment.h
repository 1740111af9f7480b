#pragma once
// Tests that need what the test command provides (the Windows build and its Wine
// prefix, a display, socat, pymodbus) and do not find it are skipped, saying what is
// missing, so that plain `ctest` in any build folder is green; CTest counts them as
// skipped. The test command sets ORNAT_TESTS_NO_SKIP=1: there the same test fails
// instead, since a test that silently skips where it should run tests nothing.
//
//   TEST(WineCli, ...) {
//     ORNAT_SKIP_IF_MISSING(testing::WineSetupMissing({"src/cli/ornat-cli.exe"}));
//     ...
//   }

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace ornat::testing {

// True where a missing piece is a failure (the test command: ORNAT_TESTS_NO_SKIP=1).
inline bool SkipsAreFailures() {
  const char* v = std::getenv("ORNAT_TESTS_NO_SKIP");
  return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

// A program found on PATH (or at its absolute path), or "".
inline std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    std::size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(at, end - at) + "/" + name;
    if (end > at && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return "";
}

// What the Wine tests lack of the Windows test phase's set-up (scripts/test-windows.sh:
// ORNAT_WIN32_BUILD, WINEPREFIX with its prefix made, ORNAT_WINE_PORTS, wine, and the
// Windows build's `programs`, relative to ORNAT_WIN32_BUILD), or "".
inline std::string WineSetupMissing(const std::vector<std::string>& programs) {
  auto setting = [](const char* name) -> std::string {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
  };
  const std::string phase = " (scripts/test-windows.sh sets it up)";
  const std::string build = setting("ORNAT_WIN32_BUILD");
  if (build.empty()) return "ORNAT_WIN32_BUILD names no Windows build" + phase;
  if (setting("WINEPREFIX").empty() ||
      !std::filesystem::exists(setting("WINEPREFIX") + "/system.reg"))
    return "no Wine prefix in WINEPREFIX" + phase;
  if (setting("ORNAT_WINE_PORTS").empty())
    return "ORNAT_WINE_PORTS names no folder of the prefix's port links" + phase;
  if (FindProgram("wine").empty()) return "wine is not installed" + phase;
  for (const std::string& p : programs)
    if (!std::filesystem::exists(build + "/" + p))
      return "no " + p + " in ORNAT_WIN32_BUILD (" + build + ")" + phase;
  return "";
}

// "" when Debian's python3 at `python` imports `module`, else what is missing.
inline std::string PythonModuleMissing(const std::string& python, const std::string& module,
                                       const std::string& package) {
  if (::access(python.c_str(), X_OK) != 0) return python + " is missing (apt-get install python3)";
  const std::string command = python + " -c 'import " + module + "' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return python + " cannot import " + module + " (apt-get install " + package + ")";
  return "";
}

}  // namespace ornat::testing

// Skips the running test, saying why, when `missing` (what the test lacks) is not
// empty; under ORNAT_TESTS_NO_SKIP it fails instead. In a test body or a fixture's SetUp.
#define ORNAT_SKIP_IF_MISSING(missing)                                                     \
  do {                                                                                     \
    const std::string ornat_missing_ = (missing);                                          \
    if (!ornat_missing_.empty()) {                                                         \
      if (::ornat::testing::SkipsAreFailures())                                            \
        FAIL() << ornat_missing_ << "; ORNAT_TESTS_NO_SKIP is set, so this test must run"; \
      GTEST_SKIP() << ornat_missing_;                                                      \
    }                                                                                      \
  } while (false)
