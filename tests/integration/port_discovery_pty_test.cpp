#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "serial/platform/port_list.h"
#include "support/sim_process.h"

namespace ornat {
namespace {

using testing::SimProcess;

TEST(PortDiscoveryPty, ARunningSimulatorIsListedFirstAndItsPortIsGoneWhenItStops) {
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  const std::string ports = sim.runtime_dir() + "/ornat/ports";
  LinuxPortList list("/sys/class/tty", ports);
  auto names = list.ListPorts();
  ASSERT_TRUE(names.has_value()) << "this machine's sysfs class folder can be read";
  ASSERT_FALSE(names->empty());
  EXPECT_EQ(names->front(), "ornat-sim");
  // The link leads to the simulator's pty, which the port opens by that name.
  EXPECT_EQ(std::filesystem::canonical(ports + "/ornat-sim"),
            std::filesystem::canonical(sim.pty_path()));
  sim.Kill();
  names = list.ListPorts();
  ASSERT_TRUE(names.has_value());
  EXPECT_TRUE(std::find(names->begin(), names->end(), "ornat-sim") == names->end());
}

TEST(PortDiscoveryPty, ThisMachinesSerialPortsAreDeviceBackedTtys) {
  auto names = LinuxPortList("/sys/class/tty", "/nonexistent").ListPorts();
  ASSERT_TRUE(names.has_value());
  for (const std::string& n : *names) {
    struct stat st {};
    EXPECT_EQ(stat(("/sys/class/tty/" + n + "/device").c_str(), &st), 0) << n;
    EXPECT_EQ(n.rfind("pts", 0), std::string::npos) << "pseudo-terminals are not listed";
  }
}

}  // namespace
}  // namespace ornat
