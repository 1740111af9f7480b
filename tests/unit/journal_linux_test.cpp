// The journal on Linux: what only a POSIX system has (FIFOs and sockets whose open
// would wait, /dev/full, a file-size limit, a process killed with SIGKILL).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "journal/exchange_journal.h"
#include "support/basic_form.h"
#include "support/text_lines.h"

namespace ornat {
namespace {

using nlohmann::json;
using testing::FileLines;
using testing::TempDir;

TEST(Journal, AFileWhoseOpenWouldWaitForAnotherProgramIsRefusedAtOnce) {
  TempDir dir;
  const std::string fifo = dir.path() + "/fifo";
  const std::string socket_path = dir.path() + "/socket";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", socket_path.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  struct Case {
    const char* name;
    std::string path;
    bool reader;  // another program reads the FIFO
    const char* why;
  } cases[] = {
      {"a FIFO nobody reads", fifo, false, "it is a FIFO (named pipe)"},
      {"a FIFO with a reader", fifo, true, "it is a FIFO (named pipe)"},
      {"a socket", socket_path, false, "it is a socket"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int reader = c.reader ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
    auto opening = std::async(std::launch::async, [&]() -> std::string {
      try {
        ExchangeJournal j(c.path, "ornat-cli");
        return "opened";
      } catch (const JournalError& e) {
        return e.what();
      }
    });
    if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      // Let the blocked open go, so that the test ends and tells it.
      const int unblock = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
      opening.wait();
      ::close(unblock);
      ADD_FAILURE() << "the open waited";
    } else {
      const std::string why = opening.get();
      EXPECT_EQ(why, "cannot open the journal \"" + c.path + "\": " + c.why +
                         ", whose open would wait for another program; give a regular file");
    }
    if (reader >= 0) ::close(reader);
  }
  ::close(sock);
  // A device that takes writes at once is still a journal.
  EXPECT_NO_THROW(ExchangeJournal("/dev/null", "ornat"));
}

TEST(Journal, AWriteThatFailsIsToldOnceAndTheProgramGoesOn) {
  ExchangeJournal j("/dev/full", "ornat");
  std::vector<std::string> told;
  j.SetErrorSink([&](const std::string& m) { told.push_back(m); });
  ExchangeRecord r;
  j.ExchangeEnded(r);
  j.ExchangeEnded(r);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "cannot write to the journal \"/dev/full\": No space left on device");
  EXPECT_EQ(j.Error(), told[0]);
  EXPECT_EQ(j.LinesLost(), 2);
}

TEST(Journal, ALineCutShortByAFullFileLeavesTheNextLinesWhole) {
  // The file-size limit stands in for a disk that fills up in the middle of a line
  // and has room again later.
  TempDir dir;
  const std::string path = dir.path() + "/cut.jsonl";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    ExchangeJournal j(path, "ornat");
    ExchangeRecord r;
    r.request = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};
    rlimit lim{};
    getrlimit(RLIMIT_FSIZE, &lim);
    const rlim_t hard = lim.rlim_max;
    lim.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &lim);
    j.ExchangeEnded(r);  // 100 bytes of it, then "File too large"
    j.ExchangeEnded(r);  // nothing of it
    lim.rlim_cur = hard;
    setrlimit(RLIMIT_FSIZE, &lim);
    j.ExchangeEnded(r);
    j.ExchangeEnded(r);
    const bool told = j.Error() == "cannot write to the journal \"" + path + "\": File too large";
    _exit(told && j.LinesLost() == 2 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the error or the count of lost lines is wrong";
  const auto lines = FileLines(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 100u);
  EXPECT_FALSE(json::accept(lines[0]));
  for (std::size_t i = 1; i < 3; ++i)
    EXPECT_EQ(json::parse(lines[i])["request"], "F7 03 00 00 00 08 50 9A");
}

TEST(Journal, AKilledProcessLeavesEveryCompletedExchangeInTheFile) {
  TempDir dir;
  const std::string path = dir.path() + "/killed.jsonl";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // No destructor, no exit handler, no flush of any buffer runs after SIGKILL.
    ExchangeJournal* j = new ExchangeJournal(path, "ornat-cli");
    ExchangeRecord r;
    for (std::uint8_t a = 1; a <= 3; ++a) {
      r.request = {a, 0x03, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00};
      j->ExchangeEnded(r);
    }
    raise(SIGKILL);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  const auto lines = FileLines(path);
  ASSERT_EQ(lines.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(json::parse(lines[i])["address"], i + 1);
}

}  // namespace
}  // namespace ornat
