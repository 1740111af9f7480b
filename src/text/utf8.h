#pragma once
// The one UTF-8 reader of the program's texts: the journal's JSON and the command
// line's escaped output take a byte sequence as text only where it is valid UTF-8.

#include <cstddef>
#include <string_view>

namespace ornat::text {

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when there is none
// (a stray or cut byte, an overlong form, a surrogate, a value beyond U+10FFFF).
std::size_t Utf8SequenceAt(std::string_view s, std::size_t i, char32_t& cp);

}  // namespace ornat::text
