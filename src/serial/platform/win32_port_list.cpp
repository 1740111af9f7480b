#include "serial/platform/win32_port_list.h"

#include <algorithm>

#include "text/utf16.h"

namespace ornat {

using namespace win32;

namespace {

// Closes the key however the reading ends.
struct KeyCloser {
  const Win32Api& api;
  HKey key;
  ~KeyCloser() { api.RegCloseKey(key); }
};

// The value names, in enumeration order.
std::vector<std::string> ValueNames(const Win32Api& api, HKey key) {
  Dword count = 0, longest = 0;
  if (api.RegQueryInfoKeyA(key, &count, &longest) != kErrorSuccess) return {};
  std::vector<std::string> names;
  std::vector<char> buffer(static_cast<std::size_t>(longest) + 1);
  for (Dword i = 0; i < count; ++i) {
    Dword length = static_cast<Dword>(buffer.size());
    const Long e = api.RegEnumValueA(key, i, buffer.data(), &length);
    if (e == kErrorNoMoreItems) break;  // a value went away meanwhile
    if (e != kErrorSuccess) continue;
    names.emplace_back(buffer.data(), std::min<std::size_t>(length, buffer.size()));
  }
  return names;
}

// The string data of one value, without its terminating null.
std::string StringValue(const Win32Api& api, HKey key, const std::string& name) {
  Dword type = 0, size = 0;
  Long e = api.RegQueryValueExA(key, name.c_str(), &type, nullptr, &size);
  if (e != kErrorSuccess || (type != kRegSz && type != kRegExpandSz))
    throw ERegistryValue("Invalid data type for '" + name + "'");
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size) + 1, 0);
  Dword got = size;
  e = api.RegQueryValueExA(key, name.c_str(), &type, data.data(), &got);
  if (e != kErrorSuccess || (type != kRegSz && type != kRegExpandSz))
    throw ERegistryValue("Invalid data type for '" + name + "'");
  std::size_t n = std::min<std::size_t>(got, size);
  std::string text(reinterpret_cast<const char*>(data.data()), n);
  // The data of a string value normally ends with its null; the name stops there.
  const std::size_t end = text.find('\0');
  if (end != std::string::npos) text.resize(end);
  return text;
}

// A device's friendly name, in UTF-8; "" when it has none.
std::string FriendlyName(const Win32Api& api, HDevInfo set, DevInfoData& data) {
  std::vector<std::uint8_t> buffer(512);
  for (int attempt = 0; attempt < 2; ++attempt) {
    Dword type = 0, required = 0;
    if (api.SetupDiGetDeviceRegistryPropertyW(set, &data, kSpdrpFriendlyName, &type, buffer.data(),
                                              static_cast<Dword>(buffer.size()), &required)) {
      if (type != kRegSz) return {};
      std::u16string name;
      for (std::size_t i = 0; i + 1 < std::min<std::size_t>(required, buffer.size()); i += 2)
        name.push_back(static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8)));
      name.resize(std::min(name.size(), name.find(u'\0')));
      return text::Utf8FromUtf16(name);
    }
    if (api.GetLastError() != kErrorInsufficientBuffer || required <= buffer.size()) return {};
    buffer.resize(required);
  }
  return {};
}

}  // namespace

std::vector<std::string> RegistryPortList::DescribePorts(const std::vector<std::string>& ports) {
  std::vector<std::string> descriptions(ports.size());
  const HDevInfo set = api_.SetupDiGetClassDevsPorts();
  if (set == InvalidHandle() || set == nullptr) return descriptions;
  DevInfoData data;
  for (Dword i = 0; api_.SetupDiEnumDeviceInfo(set, i, &data); ++i, data = DevInfoData{}) {
    const std::string name = FriendlyName(api_, set, data);
    for (std::size_t k = 0; k < ports.size(); ++k) {
      const std::string suffix = "(" + ports[k] + ")";
      if (descriptions[k].empty() && name.size() >= suffix.size() &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        descriptions[k] = name;
    }
  }
  api_.SetupDiDestroyDeviceInfoList(set);
  return descriptions;
}

std::optional<std::vector<std::string>> RegistryPortList::ListPorts() {
  HKey key = nullptr;
  if (api_.RegOpenKeyExA(LocalMachineKey(), kSerialCommKey, 0, kKeyRead, &key) != kErrorSuccess)
    return std::nullopt;
  KeyCloser closer{api_, key};
  std::vector<std::string> ports;
  for (const std::string& name : ValueNames(api_, key))
    ports.push_back(StringValue(api_, key, name));
  return ports;
}

}  // namespace ornat
