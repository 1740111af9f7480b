// The serial port's error texts as a program shows them after its start-up, under the
// locale a user sets: the program's own lookup runs in a child process (the probe) with
// only the environment of each case and the catalogues of this build tree.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "serial/comport.h"

namespace ornat {
namespace {

// Runs the probe with exactly env (plus the build tree's catalogues) and returns its
// output lines; an empty vector when it could not run or failed.
std::vector<std::string> ProbeLines(std::vector<std::string> env) {
  env.push_back("ORNAT_LOCALEDIR=" ORNAT_BUILD_LOCALEDIR);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char path[] = ORNAT_ERROR_TEXTS_PROBE;
  char* argv[] = {path, nullptr};
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, path, &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buf[4096];
  ssize_t n = 0;
  while (spawned == 0 && (n = read(out[0], buf, sizeof buf)) != 0) {
    if (n > 0)
      text.append(buf, static_cast<std::size_t>(n));
    else if (errno != EINTR)
      break;
  }
  close(out[0]);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0)
    return {};
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

constexpr std::size_t kSuffixLine = 23;  // after the 23 texts
constexpr std::size_t kHolderLine = 24;

struct LocaleCase {
  const char* name;
  std::vector<std::string> env;
  bool russian;
};

void PrintTo(const LocaleCase& c, std::ostream* os) {
  *os << c.name;
}

class ErrorTextsUnderALocale : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(ErrorTextsUnderALocale, AreTheCataloguesTextsOrTheEnglishOnes) {
  const LocaleCase& c = GetParam();
  const std::vector<std::string> lines = ProbeLines(c.env);
  ASSERT_EQ(lines.size(), 25u) << "the probe did not run";
  if (c.russian) {
    EXPECT_EQ(lines[0], "Не удалось открыть COM-порт");
    EXPECT_EQ(lines[13], "Нельзя изменить свойство, пока порт открыт");
    EXPECT_EQ(lines[22], "Ошибка реестра");
    EXPECT_EQ(lines[kSuffixLine], "Ошибка функции SetCommState (код ошибки Windows: 5)");
    EXPECT_EQ(lines[kHolderLine],
              "Не удалось открыть COM-порт (код ошибки Windows: 16); занят: cat (pid 1234)");
    // Every text has its translation: none is left in English.
    for (int code = 1; code <= 23; ++code)
      EXPECT_STRNE(lines[static_cast<std::size_t>(code - 1)].c_str(), ErrorTextKey(code)) << code;
  } else {
    for (int code = 1; code <= 23; ++code)
      EXPECT_EQ(lines[static_cast<std::size_t>(code - 1)], ErrorTextKey(code)) << code;
    EXPECT_EQ(lines[kSuffixLine], "SetCommState function failed (win error code: 5)");
    EXPECT_EQ(lines[kHolderLine],
              "Unable to open com port (win error code: 16); held by cat (pid 1234)");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Locales, ErrorTextsUnderALocale,
    ::testing::Values(
        // C.UTF-8 exists on every Debian without generating locales; LANGUAGE then
        // picks the catalogue.
        LocaleCase{"LanguageRussianOverCUtf8", {"LANG=C.UTF-8", "LANGUAGE=ru"}, true},
        LocaleCase{
            "LanguageListStartingWithRussian", {"LC_ALL=C.UTF-8", "LANGUAGE=ru_RU:ru:en"}, true},
        // Under the locale "C" gettext ignores LANGUAGE: the English texts stand.
        LocaleCase{"LanguageRussianUnderC", {"LC_ALL=C", "LANGUAGE=ru"}, false},
        LocaleCase{"NoLocaleAtAll", {}, false},
        LocaleCase{"CUtf8WithoutLanguage", {"LANG=C.UTF-8"}, false},
        LocaleCase{"ALanguageWithoutCatalogue", {"LANG=C.UTF-8", "LANGUAGE=de"}, false}),
    [](const ::testing::TestParamInfo<LocaleCase>& param) { return param.param.name; });

}  // namespace
}  // namespace ornat
