// Starts as the programs do (SetUpLocale) and prints the serial port's error texts as
// they would show them: the 23 texts, one a line, then the message of a failure that
// carries a system error and that of a port another program holds. The translation test runs it
// under several locales.

#include <cstdio>

#include "serial/comport.h"
#include "serial/translation.h"

int main() {
  ornat::SetUpLocale();
  for (const std::string& text : ornat::ErrorTexts()) std::printf("%s\n", text.c_str());
  std::printf("%s\n", ornat::EComPort(ornat::CError_SetStateFailed, 5).what());
  std::printf("%s\n", ornat::EComPort(ornat::CError_OpenFailed, 16, {{1234, "cat"}}).what());
  return 0;
}
