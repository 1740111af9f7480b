// The recording decorator: what a test reads of the device's calls, and calls failed on
// demand, over any device.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/platform/recording_comm_device.h"
#include "support/scripted_comm_device.h"

namespace ornat {
namespace {

using Record = std::vector<std::pair<std::string, DevError>>;

Record NamesAndResults(const RecordingCommDevice& device) {
  Record out;
  for (const DeviceCall& c : device.calls()) out.emplace_back(c.name, c.result);
  return out;
}

TEST(RecordingDevice, ACallFailedOnDemandNeverReachesTheDeviceAndEachCallKeepsWhatItReturned) {
  testing::ScriptedCommDevice script;
  RecordingCommDevice device{script};
  device.FailNext("Open", ENOENT);
  EXPECT_EQ(device.Open("COM1"), ENOENT);
  EXPECT_FALSE(script.IsOpen());
  EXPECT_EQ(device.Open("COM1"), 0);
  EXPECT_EQ(device.Open("COM1"), EBUSY);  // the device's own answer, recorded as well
  LineSettings slow, fast;
  slow.BaudRate = 9600;
  fast.BaudRate = 19200;
  EXPECT_EQ(device.SetLineSettings(slow), 0);
  device.FailNext("SetLineSettings", EIO);
  EXPECT_EQ(device.SetLineSettings(fast), EIO);
  EXPECT_EQ(script.CurrentBaudRate(), 9600u);
  // A read is in the record while it blocks; what ended it is filled in when it returns.
  script.SetReadMode(testing::ScriptedCommDevice::ReadMode::kWaitForFirstByte);
  std::thread reader([&] {
    char buffer[4];
    device.Read(buffer, 4);
  });
  ASSERT_TRUE(script.WaitUntilReadPending());
  EXPECT_EQ(device.Last("Read").args, (std::vector<std::int64_t>{4}));
  EXPECT_EQ(device.Purge(PURGE_RXABORT), 0);
  reader.join();
  EXPECT_EQ(NamesAndResults(device), (Record{{"Open", ENOENT},
                                             {"Open", 0},
                                             {"Open", EBUSY},
                                             {"SetLineSettings", 0},
                                             {"SetLineSettings", EIO},
                                             {"Read", ECANCELED},
                                             {"Purge", 0}}));
}

}  // namespace
}  // namespace ornat
