#include "text/wide.h"

#include "text/utf16.h"

namespace ornat::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wchar_t is a UTF-16 unit");

std::wstring Wide(const std::string& utf8) {
  const std::u16string wide = text::Utf16FromUtf8(utf8);
  return std::wstring(wide.begin(), wide.end());
}

std::string Utf8(const wchar_t* wide, std::size_t n) {
  return text::Utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(wide), n));
}

std::string Utf8(const std::wstring& wide) {
  return Utf8(wide.data(), wide.size());
}

std::vector<std::string> Utf8Arguments(int argc, const wchar_t* const* argv, std::string& refused) {
  refused.clear();
  std::vector<std::string> args;
  for (int i = 1; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
    const std::u16string_view arg(reinterpret_cast<const char16_t*>(argv[i]),
                                  std::char_traits<wchar_t>::length(argv[i]));
    bool exact = true;
    args.push_back(text::Utf8FromUtf16(arg, &exact));
    if (!exact && refused.empty()) refused = args.back();
  }
  return args;
}

}  // namespace ornat::win32
