#pragma once
// A reader of GNU message catalogues (.mo files), for the platform without gettext:
// the same serialcomm.mo that gettext reads on Linux gives the serial port's texts
// their translation on Windows.

#include <cstddef>
#include <map>
#include <string>

namespace ornat {

class MoCatalogue {
 public:
  // Takes the entries of a catalogue file's bytes, either byte order. False, keeping
  // nothing, for bytes that are not a whole catalogue (wrong magic, an unknown major
  // revision, a table or string outside the bytes).
  bool Load(const std::string& bytes);
  // The translation of key (its first plural form for a plural entry), or nullptr
  // when the catalogue has none. The pointer lives as long as the catalogue.
  const char* Find(const char* key) const;
  std::size_t size() const { return entries_.size(); }

 private:
  std::map<std::string, std::string, std::less<>> entries_;
};

}  // namespace ornat
