#include "serial/translation.h"

#include <clocale>

#include "serial/com_errors.h"

namespace ornat {

void SetUpLocale() {
  std::setlocale(LC_ALL, "");
  LoadErrorTexts(CatalogueDirectory());
}

}  // namespace ornat
