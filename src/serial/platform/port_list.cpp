#include "serial/platform/port_list.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "serial/platform/posix_port_names.h"
#include "serial/platform/posix_port_registry.h"

namespace ornat {

LinuxPortList::LinuxPortList() : LinuxPortList("/sys/class/tty", VirtualPortsDirectory()) {}

LinuxPortList::LinuxPortList(std::string sysfs_class, std::string virtual_dir,
                             std::string by_id_dir)
    : sysfs_class_(std::move(sysfs_class)),
      virtual_dir_(std::move(virtual_dir)),
      by_id_dir_(std::move(by_id_dir)) {}

namespace {

std::vector<std::string> DirectoryEntries(const std::string& dir, bool* opened) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (opened != nullptr) *opened = d != nullptr;
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;  // follows links: a dangling link does not exist
}

// A serial-core placeholder for a port the hardware does not have reads type 0.
bool IsPlaceholder(const std::string& entry_dir) {
  std::ifstream type(entry_dir + "/type");
  if (!type) return false;
  std::string value;
  type >> value;
  return value == "0";
}

// The first line of a sysfs attribute, without its line end; "" when there is none.
std::string Attribute(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// The USB device folder above a tty's device: the tty hangs below one of the device's
// interfaces (cdc-acm) or below the usb-serial port of one (ftdi_sio, ch341...).
std::optional<std::string> UsbDeviceOf(const std::string& tty_dir) {
  char resolved[PATH_MAX];
  if (realpath((tty_dir + "/device").c_str(), resolved) == nullptr) return std::nullopt;
  std::string dir = resolved;
  for (int up = 0; up < 4 && dir.size() > 1; ++up) {
    if (Exists(dir + "/idVendor")) return dir;
    dir.erase(dir.find_last_of('/'));
  }
  return std::nullopt;
}

}  // namespace

std::string LinuxPortList::Describe(const std::string& port) {
  std::vector<std::string> parts;
  if (port.find('/') == std::string::npos) {
    if (const auto usb = UsbDeviceOf(sysfs_class_ + "/" + port)) {
      parts.push_back("USB " + Attribute(*usb + "/idVendor") + ":" +
                      Attribute(*usb + "/idProduct"));
      std::string name = Attribute(*usb + "/manufacturer");
      const std::string product = Attribute(*usb + "/product");
      if (!product.empty()) name += (name.empty() ? "" : " ") + product;
      if (!name.empty()) parts.back() += " " + name;
      if (const std::string serial = Attribute(*usb + "/serial"); !serial.empty())
        parts.push_back("serial " + serial);
    }
  }
  // udev's links name the adapter by its serial number (and its place on the bus).
  std::vector<std::string> links;
  for (const std::string& entry : DirectoryEntries(by_id_dir_, nullptr)) {
    char target[PATH_MAX];
    const ssize_t n = readlink((by_id_dir_ + "/" + entry).c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    const std::string to(target, static_cast<std::size_t>(n));
    if (to.substr(to.find_last_of('/') + 1) == port) links.push_back(by_id_dir_ + "/" + entry);
  }
  std::sort(links.begin(), links.end());
  parts.insert(parts.end(), links.begin(), links.end());
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

std::vector<std::string> LinuxPortList::DescribePorts(const std::vector<std::string>& ports) {
  std::vector<std::string> descriptions;
  for (const std::string& port : ports) descriptions.push_back(Describe(port));
  return descriptions;
}

bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ie = i, je = j;
      while (ie < a.size() && digit(a[ie])) ++ie;
      while (je < b.size() && digit(b[je])) ++je;
      std::string na = a.substr(i, ie - i), nb = b.substr(j, je - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
  return a < b;  // equal under the rule ("01" vs "1"): keep a total order
}

std::optional<std::vector<std::string>> LinuxPortList::ListPorts() {
  bool opened = false;
  std::vector<std::string> entries = DirectoryEntries(sysfs_class_, &opened);
  if (!opened) return std::nullopt;

  std::vector<std::string> devices;
  for (const std::string& name : entries) {
    std::string dir = sysfs_class_ + "/" + name;
    // Only entries backed by a device are serial ports; virtual consoles and
    // pseudo-terminals have none. The device's subsystem is not looked at: newer
    // kernels report serial-base for every ttyS*.
    if (!Exists(dir + "/device")) continue;
    if (IsPlaceholder(dir)) continue;
    devices.push_back(name);
  }
  std::sort(devices.begin(), devices.end(), NaturalLess);

  std::vector<std::string> virtual_ports;
  for (const std::string& name : DirectoryEntries(virtual_dir_, nullptr)) {
    // Only a registration whose provider still lives: a link left by one that was
    // killed may lead to whatever pty its number has become since.
    if (LiveVirtualPort(virtual_dir_, name)) virtual_ports.push_back(name);
  }
  std::sort(virtual_ports.begin(), virtual_ports.end(), NaturalLess);

  virtual_ports.insert(virtual_ports.end(), devices.begin(), devices.end());
  return virtual_ports;
}

}  // namespace ornat
