#pragma once
// What LineLock asks of the platform: line_lock_linux.cpp and line_lock_windows.cpp,
// one of which the build takes. Internal to the line lock.

#include <cstdint>
#include <string>

#include "serial/line_lock.h"

namespace ornat::line_lock_platform {

// The descriptor or handle that holds a line's lock.
using Native = std::intptr_t;

// The line `port` leads to (LineIdentity).
std::string Identity(const std::string& port);

// Locks the line `identity` without waiting and writes `record_runs` as what this
// process runs. kTaken: `native` holds it; kInUse: `holder` names the holder;
// kUnavailable: `error` is the system's error number.
LineLock::Outcome Lock(const std::string& identity, const std::string& runs, Native& native,
                       LineHolder& holder, int& error);

// Lets the line go (the process's last take of it has been released).
void Unlock(Native native);

// Runs the three at every fork() (pthread_atfork), where there is one: a child made by
// fork() holds no lock, so what the process counts as held must not pass to it.
void AtFork(void (*prepare)(), void (*parent)(), void (*child)());

std::string ProgramName();
int InUseError();

// The text of a record: "<pid>\n<runs>\n", and back (false for anything else: empty,
// cut short, or being written).
std::string FormatRecord(long pid, const std::string& runs);
bool ParseRecord(const std::string& text, LineHolder& holder);

// A line's identity as a file name: "line-", then the identity with letters, digits,
// '.', '_' and '-' as they are and every other byte as %XX (upper-case hex), so that no
// two identities share a name and none is a device's ("line-COM7", not "COM7").
std::string FileNameOf(const std::string& identity);

}  // namespace ornat::line_lock_platform
