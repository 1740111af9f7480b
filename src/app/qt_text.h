#pragma once
// The models' texts are UTF-8 (std::string); Qt's are UTF-16 (QString).

#include <QString>
#include <string>

namespace ornat {

inline QString ToQString(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

}  // namespace ornat
