#pragma once
// The program's locale and the serial port's message catalogues: what every main()
// that can show the port's error texts does first.

#include <string>

namespace ornat {

// The folder that holds <lang>/LC_MESSAGES/serialcomm.mo: $ORNAT_LOCALEDIR when set
// and not empty (a build tree's catalogues, for the tests); else on Linux the
// installed share/locale beside the running program's bin folder, else the configured
// install folder; on Windows the folder "locale" beside the program.
std::string CatalogueDirectory();

// Takes the locale from the environment (LC_ALL, LC_MESSAGES, LANG; LANGUAGE picks
// the catalogue's language unless the locale is "C"; on Windows without any of them,
// the user's language) and looks the serial port's error texts up in
// CatalogueDirectory(). Call at the start of main(), before any thread starts.
void SetUpLocale();

// The platform's catalogue lookup (gettext on Linux, a reader of the same .mo files on
// Windows). BindSerialCatalogue makes the "serialcomm" catalogues of locale_dir the
// ones looked in; LookUpText gives the translation of key (the default text domain
// first, then "serialcomm"), or key itself where there is none.
void BindSerialCatalogue(const std::string& locale_dir);
const char* LookUpText(const char* key);

}  // namespace ornat
