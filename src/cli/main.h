#pragma once
// ornat-cli's program, behind the platform's entry (main_linux.cpp: main;
// main_windows.cpp: wmain, whose wide arguments arrive here as UTF-8).

#include <string>
#include <vector>

namespace ornat::cli {

// Runs ornat-cli with the arguments after the program's name (UTF-8) and returns its
// exit status. refused: an argument the entry could not carry as UTF-8, which is then
// a usage error; empty when there is none.
int Main(const std::vector<std::string>& args, const std::string& refused = {});

}  // namespace ornat::cli
