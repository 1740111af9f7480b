#pragma once
// UTF-8 (the models' texts) and UTF-16 (the Win32 calls) in both directions.

#include <string>

namespace ornat::win32 {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
std::string Utf8(const wchar_t* wide, std::size_t n);

}  // namespace ornat::win32
