#include <cstdlib>
#include <ctime>

#include "support/local_zone.h"

namespace ornat::testing {

LocalZone::LocalZone(const char* tz) {
  if (const char* old = std::getenv("TZ")) old_ = old;
  _putenv_s("TZ", tz);
  _tzset();
}

LocalZone::~LocalZone() {
  _putenv_s("TZ", old_ ? old_->c_str() : "");  // "" removes it
  _tzset();
}

}  // namespace ornat::testing
