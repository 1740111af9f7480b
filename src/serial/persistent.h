#pragma once
// The framework's persistent object, which the port's settings objects are: copied onto
// another of its class with Assign, and the framework's error for any other copy.

#include <stdexcept>

#include "runtime/object.h"

namespace ornat {

// The framework's conversion error; Assign across classes raises it with the
// standard message "Cannot assign a <source class> to a <destination class>".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TPersistent : public TObject {
 public:
  // Copies source onto this object. Raises EConvertError when source is of another
  // class (or null): "Cannot assign a TComTimeouts to a TComParity".
  virtual void Assign(const TPersistent* source);
  void Assign(const TPersistent& source) { Assign(&source); }
  virtual const char* ClassName() const = 0;

 protected:
  // Copies this object onto dest; the base raises the assignment error.
  virtual void AssignTo(TPersistent& dest) const;
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

}  // namespace ornat
