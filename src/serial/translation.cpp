#include "serial/translation.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "serial/comport.h"

namespace ornat {

std::string CatalogueDirectory() {
  if (const char* dir = std::getenv("ORNAT_LOCALEDIR"); dir != nullptr && *dir != '\0') return dir;
  // Relative to the program, so the catalogues are found wherever the package put
  // bin/ and share/ (/usr for the .deb, /usr/local for cmake --install).
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path dir =
        (program.parent_path() / ORNAT_LOCALEDIR_FROM_BINDIR).lexically_normal();
    if (std::filesystem::is_directory(dir, error)) return dir.string();
  }
  return ORNAT_INSTALL_LOCALEDIR;
}

void SetUpLocale() {
  std::setlocale(LC_ALL, "");
  LoadErrorTexts(CatalogueDirectory());
}

}  // namespace ornat
