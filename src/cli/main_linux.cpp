// ornat-cli's entry on Linux: the arguments are the bytes the shell gave, UTF-8 in
// every locale the tool supports.

#include <string>
#include <vector>

#include "cli/main.h"

int main(int argc, char** argv) {
  return ornat::cli::Main(std::vector<std::string>(argv + 1, argv + argc));
}
