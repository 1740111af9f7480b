#pragma once
// The runtime folder (XDG_RUNTIME_DIR) of this process for a scope: the folder where
// registered port names resolve and lines are locked. ScopedRuntimeDir: a given folder,
// such as a running ornat-sim's, so that its port name opens; PrivateRuntimeDir: a
// folder of the test's own while it lives. The one before comes back at the end.
// Header-only.

#include <stdlib.h>

#include <optional>
#include <string>

#include "support/basic_form.h"

namespace ornat::testing {

class ScopedRuntimeDir {
 public:
  explicit ScopedRuntimeDir(const std::string& dir) {
    if (const char* before = ::getenv("XDG_RUNTIME_DIR")) saved_ = before;
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
  ~ScopedRuntimeDir() {
    saved_ ? ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1) : ::unsetenv("XDG_RUNTIME_DIR");
  }
  ScopedRuntimeDir(const ScopedRuntimeDir&) = delete;
  ScopedRuntimeDir& operator=(const ScopedRuntimeDir&) = delete;

 private:
  std::optional<std::string> saved_;
};

class PrivateRuntimeDir : public TempDir {
 public:
  PrivateRuntimeDir() : scope_(path()) {}

 private:
  ScopedRuntimeDir scope_;
};

}  // namespace ornat::testing
