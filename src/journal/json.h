#pragma once
// A small JSON writer for the journal and ornat-cli's --json output. Texts are UTF-8
// (the window's texts are Cyrillic): they go out as they are, with quotes,
// backslashes and control characters escaped; a byte sequence that is not valid
// UTF-8 (a port name from the command line, say) becomes U+FFFD, so the output is
// always valid JSON.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ornat {

// The text as a JSON string, quotes included.
std::string JsonString(std::string_view text);

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of an object.
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view text);
  JsonWriter& Int(long long value);
  // A number with `decimals` digits after the point.
  JsonWriter& Fixed(double value, int decimals);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  JsonWriter& Strings(const std::vector<std::string>& texts);
  // A value written elsewhere, put in as it is.
  JsonWriter& Raw(std::string_view json);

  const std::string& Text() const { return out_; }

 private:
  void BeforeValue();
  std::string out_;
  // One entry per open object or array: true until its first element is written.
  std::vector<bool> first_;
  bool after_key_ = false;
};

}  // namespace ornat
