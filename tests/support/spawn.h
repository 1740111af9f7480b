#pragma once
// Starting a helper program (ornat-sim, ornat-cli) for a test, with XDG_RUNTIME_DIR set
// to a folder of the test's own so that the virtual ports it sees or registers are the
// test's, and XDG_CONFIG_HOME to <runtime_dir>/config (so its lines file is the test's,
// never the user's); and ending a child at once. Header-only, for the benchmarks too.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace ornat::testing {

// posix_spawn of `program` with args (argv[0] is added) in this process's environment
// with XDG_RUNTIME_DIR and XDG_CONFIG_HOME replaced; the pid, or -1.
inline pid_t SpawnWithRuntimeDir(const char* program, std::vector<std::string> args,
                                 const std::string& runtime_dir,
                                 const posix_spawn_file_actions_t* actions) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0 &&
        std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0)
      env.emplace_back(*e);
  env.push_back("XDG_RUNTIME_DIR=" + runtime_dir);
  env.push_back("XDG_CONFIG_HOME=" + runtime_dir + "/config");
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program, actions, nullptr, argv.data(), envp.data()) != 0) return -1;
  return pid;
}

// Ends the child `pid` at once (SIGKILL) and reaps it: whatever it held is free and
// `pid` is -1 when this returns. Nothing when `pid` is not a child's (<= 0).
inline void KillNow(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

}  // namespace ornat::testing
