#pragma once
// UTF-8 (every text inside the program) and UTF-16 (what Windows' wide calls take and
// give: the command line, file and device names), in both directions, on every
// platform: the Win32 device builds its wide names on Linux too, where its tests run.

#include <string>
#include <string_view>

namespace ornat::text {

// The UTF-8 form of s. An unpaired surrogate (a Windows file name may hold one) has
// none: it becomes U+FFFD, and *exact, when given, is set to false (else true).
std::string Utf8FromUtf16(std::u16string_view s, bool* exact = nullptr);

// The UTF-16 form of s; a byte that begins no valid UTF-8 sequence becomes U+FFFD.
std::u16string Utf16FromUtf8(std::string_view s);

// True when every byte is below 0x80: the name is the same in every code page.
bool IsAscii(std::string_view s);

}  // namespace ornat::text
