#pragma once
// A piece of a test run in a child process (what must not change the test process:
// its user, its limits), and root given up in it.

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace ornat::testing {

// Runs fn in a child process and gives its exit status (-1 when the child did not end
// by itself; a hang ends it after 20 s).
inline int InChild(const std::function<int()>& fn) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    ::alarm(20);
    ::_exit(fn());
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// In a child of root: becomes the user 65534 with no groups, so that none of root's
// capabilities apply to it (the kernel's exclusive flag, file permissions). A process
// that is not root is an ordinary user already. False when the change failed.
inline bool BecomeOrdinaryUser() {
  return ::geteuid() != 0 ||
         (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
}

}  // namespace ornat::testing
