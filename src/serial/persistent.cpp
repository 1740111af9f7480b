#include "serial/persistent.h"

#include <string>

namespace ornat {

void TPersistent::Assign(const TPersistent* source) {
  if (source != nullptr) {
    source->AssignTo(*this);
  } else {
    AssignError(nullptr);
  }
}

void TPersistent::AssignTo(TPersistent& dest) const {
  dest.AssignError(this);
}

void TPersistent::AssignError(const TPersistent* source) const {
  std::string source_name = source != nullptr ? source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + source_name + " to a " + ClassName());
}

}  // namespace ornat
