#pragma once
// Where an exception that escapes an event handler goes: the application's standard
// exception report (a message box with its message in the windows, stderr in the
// command line). The handler gate tells it; the window's dialogs are one.

#include <string>

namespace ornat {

class ExceptionReport {
 public:
  virtual ~ExceptionReport() = default;
  // Shows the message of an exception no handler caught; the program goes on.
  virtual void ShowException(const std::string& message) = 0;
};

}  // namespace ornat
