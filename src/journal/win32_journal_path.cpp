#include "journal/win32_journal_path.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace ornat {

namespace {

bool Slash(char c) {
  return c == '\\' || c == '/';
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// "X:" followed by a separator or the end: a drive.
bool DriveAt(std::string_view s, std::size_t i) {
  return s.size() >= i + 2 && std::isalpha(static_cast<unsigned char>(s[i])) != 0 &&
         s[i + 1] == ':' && (s.size() == i + 2 || Slash(s[i + 2]));
}

// The reserved name a final path component stands for ("NUL", "COM3"), or "".
// Windows takes it so with any extension ("nul.txt"), and with spaces or a colon
// after it ("COM3:"). COM and LPT take the digits 0-9 and the superscripts 1, 2, 3.
std::string ReservedName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && (base.back() == ' ' || base.back() == ':')) base.remove_suffix(1);
  const std::string up = Upper(base);
  static constexpr std::array<const char*, 6> kPlain = {"CON", "PRN",    "AUX",
                                                        "NUL", "CONIN$", "CONOUT$"};
  for (const char* name : kPlain)
    if (up == name) return up;
  for (const char* prefix : {"COM", "LPT"}) {
    if (up.rfind(prefix, 0) != 0) continue;
    const std::string_view rest = std::string_view(up).substr(3);
    if (rest.size() == 1 && rest[0] >= '0' && rest[0] <= '9') return up;
    for (const char* sup : {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
      if (rest == sup) return up;
  }
  return "";
}

std::string DeviceText(const std::string& name) {
  if (name.rfind("COM", 0) == 0)
    return "it names the serial port " + name +
           ", which an open would take and the journal would be written onto its line; give a "
           "file name such as journal.jsonl";
  return "it names the device " + name +
         " (Windows takes CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 for devices in every "
         "folder, with any extension), not a file; give a file name such as journal.jsonl";
}

}  // namespace

std::string Win32JournalPathRefusal(std::string_view path) {
  std::string_view rest = path;
  // The device namespace: \\.\ and \\?\ (either slash).
  if (path.size() >= 4 && Slash(path[0]) && Slash(path[1]) && (path[2] == '.' || path[2] == '?') &&
      Slash(path[3])) {
    rest = path.substr(4);
    const std::string up = Upper(rest);
    if (up.rfind("PIPE", 0) == 0 && (up.size() == 4 || Slash(up[4])))
      return "it is a named pipe, whose reader could make every write wait; give a regular file";
    // \\?\C:\dir\file, \\.\C:\dir\file and \\?\UNC\server\share\file are files' names.
    const bool unc = up.rfind("UNC", 0) == 0 && up.size() > 3 && Slash(up[3]);
    if (!DriveAt(rest, 0) || rest.size() <= 3) {
      if (!unc) {
        std::string_view device = rest;
        device = device.substr(0, std::min(device.size(), device.find_first_of("\\/")));
        const std::string up_device = Upper(device);
        // Here every COM port goes by its name, COM10 and above too.
        if (up_device.size() > 3 && up_device.rfind("COM", 0) == 0 &&
            up_device.find_first_not_of("0123456789", 3) == std::string::npos)
          return DeviceText(up_device);
        const std::string reserved = ReservedName(device);
        if (!reserved.empty()) return DeviceText(reserved);
        return "it names the device " + std::string(device) + ", not a file; give a file name";
      }
    }
  }
  // The last component of the path.
  std::size_t start = rest.find_last_of("\\/");
  start = start == std::string_view::npos ? 0 : start + 1;
  // "C:NUL": a drive's current folder.
  if (start == 0 && rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[0])) != 0 &&
      rest[1] == ':')
    start = 2;
  const std::string reserved = ReservedName(rest.substr(start));
  if (!reserved.empty()) return DeviceText(reserved);
  return "";
}

}  // namespace ornat
