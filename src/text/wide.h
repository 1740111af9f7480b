#pragma once
// UTF-8 (the models' texts) and UTF-16 (the Win32 calls) in both directions, over
// wchar_t, Windows' UTF-16 unit (text/utf16.h does the converting).

#include <string>
#include <vector>

namespace ornat::win32 {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
std::string Utf8(const wchar_t* wide, std::size_t n);

// The program's arguments after its name (argv[1] to argv[argc - 1] of the wide
// command line) as UTF-8: the one conversion they go through, so that a path or a port
// name with Cyrillic or accented letters arrives whole whatever the ANSI code page.
// An argument with an unpaired surrogate (a Windows file name may hold one) has no
// UTF-8 form: it comes with U+FFFD in that place, and the first such one is left in
// `refused` for the program to refuse (else `refused` is empty).
std::vector<std::string> Utf8Arguments(int argc, const wchar_t* const* argv, std::string& refused);

}  // namespace ornat::win32
