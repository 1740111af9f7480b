#include <cstdlib>
#include <ctime>

#include "support/local_zone.h"

namespace ornat::testing {

LocalZone::LocalZone(const char* tz) {
  if (const char* old = std::getenv("TZ")) old_ = old;
  setenv("TZ", tz, 1);
  tzset();
}

LocalZone::~LocalZone() {
  if (old_)
    setenv("TZ", old_->c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace ornat::testing
