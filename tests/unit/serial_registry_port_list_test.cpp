// The Windows port list over the recording Win32 fake: the SERIALCOMM key opened for
// reading, its values in enumeration order, and the fallback when it is refused.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/comport.h"
#include "serial/platform/win32_port_list.h"
#include "support/basic_form.h"
#include "support/fake_win32_api.h"
#include "text/utf16.h"
#include "ui/exchange_log.h"

namespace ornat {
namespace {

using testing::FakeWin32;
using testing::RegistryValue;
using Names = std::vector<std::string>;

TEST(RegistryPortList, OpensTheSerialCommKeyOfTheLocalMachineForReadingOnly) {
  FakeWin32 fake;
  RegistryPortList list(fake.api());
  list.ListPorts();
  const auto calls = fake.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].name, "RegOpenKeyExA");
  EXPECT_EQ(calls[0].text, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
  // HKEY_LOCAL_MACHINE (sign-extended 0x80000002), no options, KEY_READ (0x20019): not
  // KEY_ALL_ACCESS, which ordinary users are refused.
  EXPECT_EQ(calls[0].args, (std::vector<std::uint64_t>{0xFFFFFFFF80000002ull, 0, 0x20019}));
  EXPECT_EQ(calls.back().name, "RegCloseKey");
}

TEST(RegistryPortList, GivesTheValuesStringsInEnumerationOrder) {
  struct Case {
    const char* name;
    std::vector<RegistryValue> values;
    Names ports;
  } cases[] = {
      {"empty key", {}, {}},
      {"two ports, COM3 first",
       {{"\\Device\\Serial2", 1, std::string("COM3\0", 5)},
        {"\\Device\\Serial0", 1, std::string("COM1\0", 5)}},
       {"COM3", "COM1"}},
      {"USB adapters above COM9",
       {{"\\Device\\VCP0", 1, std::string("COM12\0", 6)},
        {"\\Device\\ProlificSerial0", 1, std::string("COM10\0", 6)}},
       {"COM12", "COM10"}},
      {"data without its null", {{"\\Device\\Serial0", 1, "COM4"}}, {"COM4"}},
      {"an expandable string", {{"\\Device\\Serial0", 2, std::string("COM5\0", 5)}}, {"COM5"}},
  };
  for (const Case& c : cases) {
    FakeWin32 fake;
    fake.SetRegistryValues(c.values);
    RegistryPortList list(fake.api());
    const auto ports = list.ListPorts();
    ASSERT_TRUE(ports.has_value()) << c.name;
    EXPECT_EQ(*ports, c.ports) << c.name;
    EXPECT_EQ(fake.Count("RegCloseKey"), 1) << c.name;
  }
}

TEST(RegistryPortList, AValueThatIsNoStringCannotBeReadAndTheKeyIsClosed) {
  FakeWin32 fake;
  fake.SetRegistryValues({{"\\Device\\Serial0", 1, std::string("COM1\0", 5)},
                          {"\\Device\\Odd", 4, std::string("\x01\0\0\0", 4)}});  // REG_DWORD
  RegistryPortList list(fake.api());
  try {
    list.ListPorts();
    ADD_FAILURE() << "no exception";
  } catch (const ERegistryValue& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for '\\Device\\Odd'");
  }
  EXPECT_EQ(fake.Count("RegCloseKey"), 1);
}

TEST(RegistryPortList, ARefusedKeyCannotBeOpenedAndDiscoveryFallsBackToTheFile) {
  struct Case {
    const char* name;
    bool file;
    Names log;
    Names items;
  } cases[] = {
      {"file present",
       true,
       {msg::kRegistryError, msg::kFileRequest, msg::kFileOk},
       {"COM2", "COM1"}},
      {"file missing",
       false,
       {msg::kRegistryError, msg::kFileRequest, std::string(msg::kFileError) + "File not found."},
       {}},
  };
  for (const Case& c : cases) {
    FakeWin32 fake;
    fake.RefuseKey(5);  // access denied
    RegistryPortList list(fake.api());
    EXPECT_FALSE(list.ListPorts().has_value()) << c.name;
    EXPECT_EQ(fake.Count("RegCloseKey"), 0) << c.name << ": nothing to close";

    testing::BasicForm f;
    if (c.file) f.dir.Write("comports.txt", "COM2\r\nCOM1\r\n");
    FormEnvironment env = f.form->Environment();
    env.ports = &list;
    TForm1 w(env);
    w.ComPort1().SetPort("COM1");
    w.TeMemo1.Clear();
    w.EnumeratePorts();
    EXPECT_EQ(w.TeMemo1.Lines(), c.log) << c.name;
    Names items;
    for (std::size_t i = 0; i < w.PORT1.Count(); ++i) items.push_back(w.PORT1.Item(i)->Caption());
    EXPECT_EQ(items, c.items) << c.name;
    EXPECT_EQ(w.ComPort1().Port(), "COM1") << c.name;
  }
}

TEST(RegistryPortList, DescribesAPortByTheFriendlyNameOfItsDeviceInThePortsClass) {
  const std::u16string long_name = std::u16string(300, u'Я') + u" (COM12)";  // > 512 bytes
  FakeWin32 fake;
  fake.SetPortDevices({u"Communications Port (COM15)", std::nullopt, u"USB Serial Port (COM5)",
                       u"Последовательный порт USB (COM3)", long_name});
  EXPECT_EQ(RegistryPortList(fake.api()).DescribePorts({"COM5", "COM3", "COM12", "COM1"}),
            (Names{"USB Serial Port (COM5)", "Последовательный порт USB (COM3)",
                   text::Utf8FromUtf16(long_name), ""}));  // "(COM15)" is not COM1's
  EXPECT_FALSE(fake.DevInfoOpen()) << "the set is destroyed";
}

}  // namespace
}  // namespace ornat
