// gettext: the serial port's catalogues as the system's message lookup finds them.

#include <libintl.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "serial/com_errors.h"
#include "serial/translation.h"

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

void BindSerialCatalogue(const std::string& locale_dir) {
  bindtextdomain(kSerialTextDomain, locale_dir.c_str());
  // The texts go to the window and to std::exception::what() as UTF-8 whatever the
  // locale's own character set.
  bind_textdomain_codeset(kSerialTextDomain, "UTF-8");
}

// The default text domain first, then "serialcomm", the domain this component
// registers for its own texts and whose catalogue ships with it (the program itself
// sets no default domain, so the catalogue is found there). Without a translation
// gettext hands the key back: the English text.
const char* LookUpText(const char* key) {
  const char* text = gettext(key);
  if (text == key) text = dgettext(kSerialTextDomain, key);
  return text;
}

}  // namespace ornat
