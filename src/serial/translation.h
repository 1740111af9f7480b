#pragma once
// The program's locale and the serial port's message catalogues: what every main()
// that can show the port's error texts does first.

#include <string>

namespace ornat {

// The folder that holds <lang>/LC_MESSAGES/serialcomm.mo: $ORNAT_LOCALEDIR when set
// and not empty (a build tree's catalogues, for the tests), else the installed
// share/locale beside the running program's bin folder, else the configured install
// folder.
std::string CatalogueDirectory();

// Takes the locale from the environment (LC_ALL, LC_MESSAGES, LANG; LANGUAGE picks
// the catalogue's language unless the locale is "C") and looks the serial port's
// error texts up in CatalogueDirectory(). Call at the start of main(), before any
// thread starts.
void SetUpLocale();

}  // namespace ornat
