#pragma once
// The list of the PC's serial ports, in place of the platform registry: the serial
// devices the kernel has (sysfs) and the virtual ports that a running provider such
// as ornat-sim has registered. Reading it needs only read access.

#include <optional>
#include <string>
#include <vector>

namespace ornat {

class PortListSource {
 public:
  virtual ~PortListSource() = default;
  // The port names in a stable order, or nullopt when the list cannot be opened.
  // An empty vector means the list opened but holds no port.
  virtual std::optional<std::vector<std::string>> ListPorts() = 0;
  // What the system knows of each port of `ports` beyond its name, one line each in
  // their order, so that two adapters of one kind are told apart (maker, model, serial
  // number); "" for a port it knows nothing of. Never fails. One call describes a whole
  // list (on Windows in one pass over the devices), as every discovery asks.
  virtual std::vector<std::string> DescribePorts(const std::vector<std::string>& ports) {
    return std::vector<std::string>(ports.size());
  }
};

// Linux: every entry of <sysfs_class>/ (normally /sys/class/tty) that has a `device`
// link, except the serial-core placeholders for absent ports, whose `type`
// attribute reads 0; plus the live registrations in <virtual_dir> (a link whose target
// exists and whose provider still holds its lock: posix_port_registry.h). Virtual
// ports come first, then the devices in natural order (ttyS0, ttyS1, ..., ttyS10,
// ttyUSB0...). The list "cannot be opened" when the sysfs class folder cannot be read.
//
// Describe: for a USB adapter, what its USB device tells of itself (the first folder
// above the tty's `device` with an idVendor): "USB 0403:6001 FTDI FT232R USB UART,
// serial A50285BI", then every link of <by_id_dir> (normally /dev/serial/by-id) that
// leads to the port, by its full name. A port with neither (ttyS0, a virtual port) is "".
class LinuxPortList : public PortListSource {
 public:
  LinuxPortList();  // /sys/class/tty, the registered virtual ports, /dev/serial/by-id
  LinuxPortList(std::string sysfs_class, std::string virtual_dir,
                std::string by_id_dir = "/dev/serial/by-id");
  std::optional<std::vector<std::string>> ListPorts() override;
  std::vector<std::string> DescribePorts(const std::vector<std::string>& ports) override;
  std::string Describe(const std::string& port);  // one port of DescribePorts

 private:
  std::string sysfs_class_;
  std::string virtual_dir_;
  std::string by_id_dir_;
};

// "ttyS2" < "ttyS10" < "ttyUSB0": text compared piecewise, digit runs as numbers.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace ornat
