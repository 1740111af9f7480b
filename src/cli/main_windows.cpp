// ornat-cli.exe's entry: wmain (linked with -municode), so the arguments come from the
// wide command line and reach the program as UTF-8 whatever the ANSI code page: a
// journal in "C:\Users\Иван\Журнал" or a folder "Résumé" is the file it names. main's
// narrow arguments would have passed through the ANSI code page, which turns every
// letter it lacks into "?".

#include <string>
#include <vector>

#include "cli/main.h"
#include "text/wide.h"

int wmain(int argc, wchar_t** argv) {
  std::string refused;
  const std::vector<std::string> args = ornat::win32::Utf8Arguments(argc, argv, refused);
  return ornat::cli::Main(args, refused);
}
