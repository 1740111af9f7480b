// The Linux port list: the serial ports sysfs knows of (a device behind them, no
// serial-core placeholder) after the virtual ports that live providers have registered.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/platform/port_list.h"
#include "support/basic_form.h"
#include "support/virtual_port_lock.h"

namespace ornat {
namespace {

using testing::TempDir;
using Names = std::vector<std::string>;

// A fake sysfs: tty entries with or without a device link and a type attribute.
struct FakeSysfs {
  TempDir root;
  std::string tty() const { return root.path() + "/class/tty"; }
  std::string ports() const { return root.path() + "/ports"; }
  FakeSysfs() {
    std::filesystem::create_directories(tty());
    std::filesystem::create_directories(ports());
    std::filesystem::create_directories(root.path() + "/devices/x");
  }
  void Add(const std::string& name, bool device, const char* type = nullptr) const {
    std::string dir = tty() + "/" + name;
    std::filesystem::create_directories(dir);
    if (device)
      std::filesystem::create_directory_symlink(root.path() + "/devices/x", dir + "/device");
    if (type != nullptr) std::ofstream(dir + "/type") << type << "\n";
  }
  // A link alone, as a provider that ended leaves it.
  void LeftBehind(const std::string& name, const std::string& target) const {
    std::filesystem::create_symlink(target, ports() + "/" + name);
  }
  // A provider that still runs.
  void Register(const std::string& name, const std::string& target,
                const std::string& locked_target = "") {
    live.push_back(
        std::make_unique<testing::HeldRegistration>(ports(), name, target, locked_target));
  }
  std::vector<std::unique_ptr<testing::HeldRegistration>> live;
};

TEST(LinuxPortList, ListsDeviceBackedTtysInNaturalOrderAfterLiveVirtualPorts) {
  FakeSysfs fs;
  fs.Add("ttyS10", true, "4");
  fs.Add("ttyS2", true, "4");
  fs.Add("ttyS3", true, "0");  // a serial-core placeholder: no such port
  fs.Add("ttyUSB0", true);
  fs.Add("ttyACM1", true);
  fs.Add("ttyAMA0", true);
  fs.Add("rfcomm0", true);
  fs.Add("tty1", false);  // a virtual console
  fs.Add("console", false);
  fs.root.Write("pty-alive", "");
  fs.root.Write("pty-reused", "");
  fs.Register("ornat-sim", fs.root.path() + "/pty-alive");
  fs.Register("sim2", fs.root.path() + "/pty-reused");
  // Links whose provider is gone: its pty gone too, or given to another provider since.
  fs.Register("pty-gone", fs.root.path() + "/pty-gone");
  fs.LeftBehind("killed", fs.root.path() + "/pty-reused");
  // The provider that holds the name registered another pty than the link's.
  fs.Register("relinked", fs.root.path() + "/pty-alive", fs.root.path() + "/pty-reused");
  LinuxPortList list(fs.tty(), fs.ports());
  auto names = list.ListPorts();
  ASSERT_TRUE(names.has_value());
  EXPECT_EQ(*names, (Names{"ornat-sim", "sim2", "rfcomm0", "ttyACM1", "ttyAMA0", "ttyS2", "ttyS10",
                           "ttyUSB0"}));
  // The provider ends, however it ends: its name goes with it.
  fs.live.front()->Release();
  EXPECT_EQ(*list.ListPorts(),
            (Names{"sim2", "rfcomm0", "ttyACM1", "ttyAMA0", "ttyS2", "ttyS10", "ttyUSB0"}));
}

TEST(LinuxPortList, AnUnreadableClassFolderCannotBeOpenedAndAnEmptyOneHoldsNothing) {
  FakeSysfs fs;
  EXPECT_EQ(LinuxPortList(fs.tty(), fs.ports()).ListPorts(), std::optional<Names>(Names{}));
  EXPECT_FALSE(LinuxPortList(fs.root.path() + "/missing", fs.ports()).ListPorts().has_value());
}

TEST(LinuxPortList, TwoAdaptersOfOneKindAreToldApartByWhatTheirUsbDeviceAndUdevSay) {
  FakeSysfs fs;
  const std::string by_id = fs.root.path() + "/by-id", usb = fs.root.path() + "/devices/usb1/";
  std::filesystem::create_directories(by_id);
  const auto tty = [&](const std::string& name, const std::string& below,
                       const std::vector<std::string>& attributes) {
    const char* names[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
    std::filesystem::create_directories(usb + below);
    for (std::size_t i = 0; i < attributes.size(); ++i)
      std::ofstream(usb + below.substr(0, 3) + "/" + names[i]) << attributes[i] << "\n";
    std::filesystem::create_directories(fs.tty() + "/" + name);
    std::filesystem::create_directory_symlink(usb + below, fs.tty() + "/" + name + "/device");
  };
  tty("ttyUSB0", "1-1/1-1:1.0/ttyUSB0", {"0403", "6001", "FTDI", "FT232R USB UART", "A502"});
  tty("ttyUSB1", "1-2/1-2:1.0/ttyUSB1", {"0403", "6001", "FTDI", "FT232R USB UART", "A9XK"});
  tty("ttyACM0", "1-4/1-4:1.0", {"2341", "0043"});  // cdc-acm: the interface itself
  fs.Add("ttyS0", true);                            // on the board: no USB device above
  std::filesystem::create_symlink("../../ttyUSB1", by_id + "/usb-FTDI_A9XK-if00-port0");
  std::filesystem::create_symlink("../../ttyUSB10", by_id + "/usb-other-if00-port0");
  LinuxPortList list(fs.tty(), fs.ports(), by_id);
  const std::pair<const char*, std::string> cases[] = {
      {"ttyUSB0", "USB 0403:6001 FTDI FT232R USB UART, serial A502"},
      {"ttyUSB1",
       "USB 0403:6001 FTDI FT232R USB UART, serial A9XK, " + by_id + "/usb-FTDI_A9XK-if00-port0"},
      {"ttyACM0", "USB 2341:0043"},
      {"ttyS0", ""},
      {"ornat-sim", ""}};
  for (const auto& [port, description] : cases) EXPECT_EQ(list.Describe(port), description);
}

TEST(LinuxPortList, NaturalOrderComparesDigitRunsAsNumbers) {
  EXPECT_TRUE(NaturalLess("ttyS2", "ttyS10"));
  EXPECT_FALSE(NaturalLess("ttyS10", "ttyS2"));
  EXPECT_TRUE(NaturalLess("ttyS9", "ttyUSB0"));
  EXPECT_TRUE(NaturalLess("ttyUSB1", "ttyUSB12"));
}

}  // namespace
}  // namespace ornat
