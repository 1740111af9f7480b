// The serial port's catalogues on Windows, where there is no gettext: the same
// serialcomm.mo files, read by MoCatalogue, in the language gettext would choose.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "serial/com_errors.h"
#include "serial/mo_catalogue.h"
#include "serial/translation.h"

// <windows.h> comes after the project's headers: its macros (EV_RXCHAR, PURGE_RXABORT...)
// would otherwise replace the names those headers declare.
#include <windows.h>

namespace ornat {

namespace {

MoCatalogue& Catalogue() {
  static MoCatalogue catalogue;
  return catalogue;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                          nullptr);
  return out;
}

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The languages to look for, in order, as gettext chooses them: none for the "C"
// locale; else LANGUAGE's list; else the locale of LC_ALL, LC_MESSAGES or LANG; else
// (nothing set, as usual on Windows) the user's own language. Each as "ru_RU" and "ru".
std::vector<std::string> Languages() {
  std::string locale = Env("LC_ALL");
  if (locale.empty()) locale = Env("LC_MESSAGES");
  if (locale.empty()) locale = Env("LANG");
  if (locale == "C" || locale == "POSIX") return {};
  std::vector<std::string> wanted;
  if (std::string list = Env("LANGUAGE"); !list.empty()) {
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ':');)
      if (!item.empty()) wanted.push_back(item);
  } else if (!locale.empty()) {
    wanted.push_back(locale);
  } else {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) > 0) {
      std::string n = Utf8(name);  // "ru-RU"
      for (char& c : n)
        if (c == '-') c = '_';
      wanted.push_back(n);
    }
  }
  std::vector<std::string> out;
  for (std::string w : wanted) {
    w = w.substr(0, w.find_first_of(".@"));
    out.push_back(w);
    const std::size_t bar = w.find('_');
    if (bar != std::string::npos) out.push_back(w.substr(0, bar));
  }
  return out;
}

}  // namespace

std::string CatalogueDirectory() {
  if (const std::string dir = Env("ORNAT_LOCALEDIR"); !dir.empty()) return dir;
  std::wstring program(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
    if (n == 0) return "locale";
    if (n < program.size()) {
      program.resize(n);
      break;
    }
    program.resize(program.size() * 2);
  }
  const std::filesystem::path dir = std::filesystem::path(program).parent_path() / L"locale";
  return Utf8(dir.wstring());
}

void BindSerialCatalogue(const std::string& locale_dir) {
  for (const std::string& lang : Languages()) {
    const std::filesystem::path file = PathOf(locale_dir) / PathOf(lang) / "LC_MESSAGES" /
                                       (std::string(kSerialTextDomain) + ".mo");
    std::ifstream in(file, std::ios::binary);
    if (!in) continue;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (Catalogue().Load(bytes)) return;
  }
}

const char* LookUpText(const char* key) {
  const char* text = Catalogue().Find(key);
  return text != nullptr ? text : key;
}

}  // namespace ornat
