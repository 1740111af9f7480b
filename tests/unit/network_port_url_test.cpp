#include <gtest/gtest.h>

#include "serial/network/port_url.h"

namespace ornat {
namespace {

TEST(PortUrl, NamesWithASchemeBecomeTheLineTheyNameInOneSpelling) {
  struct Case {
    const char* name;
    const char* host;       // as the resolver gets it
    const char* canonical;  // FormatPortUrl: scheme, host and port
  } cases[] = {
      // clang-format off
      {"tcp://10.0.0.5:4001", "10.0.0.5", "tcp://10.0.0.5:4001"},
      {"RFC2217://moxa-3.plant:950", "moxa-3.plant", "rfc2217://moxa-3.plant:950"},
      {"modbus-tcp://gw", "gw", "modbus-tcp://gw:502"},
      {"modbus-tcp://gw:1502", "gw", "modbus-tcp://gw:1502"},
      {"rfc2217://[::1]:4001", "::1", "rfc2217://[::1]:4001"},
      {"tcp://[fe80::1%eth0]:1", "fe80::1%eth0", "tcp://[fe80::1%eth0]:1"},
      {"modbus-tcp://[::ffff:10.0.0.1]", "::ffff:10.0.0.1", "modbus-tcp://[::ffff:10.0.0.1]:502"},
      {"tcp://h:65535", "h", "tcp://h:65535"},
      // clang-format on
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(HasUrlScheme(c.name)) << c.name;
    const PortUrlParse parse = ParsePortUrl(c.name);
    ASSERT_TRUE(parse.url) << c.name << ": " << parse.error;
    EXPECT_EQ(parse.url->host, c.host) << c.name;
    EXPECT_EQ(FormatPortUrl(*parse.url), c.canonical) << c.name;
  }
  for (const char* local : {"/dev/ttyUSB0", "COM5", "\\\\.\\COM12", "tcp:h:1", "://h:1", ""})
    EXPECT_FALSE(HasUrlScheme(local)) << local << " is a local port's name";
}

TEST(PortUrl, AMalformedUrlIsRefusedSayingWhatIsWrong) {
  const std::pair<const char*, const char*> cases[] = {
      // clang-format off
      {"udp://h:1", ": unknown scheme \"udp\" (the schemes are tcp://, rfc2217:// and modbus-tcp://)"},
      {"tcp://:4001", " names no host"},
      {"tcp://h", " names no port (tcp://host:port)"},
      {"tcp://h:", ": the port is missing; it must be 1 to 65535"},
      {"tcp://h:0", ": the port is 0; it must be 1 to 65535"},
      {"rfc2217://h:65536", ": the port is 65536; it must be 1 to 65535"},
      {"tcp://h:4294967297", ": the port is 4294967297; it must be 1 to 65535"},
      {"tcp://h:-1", ": the port \"-1\" is not a number 1 to 65535"},
      {"tcp://h:40x", ": text after the port: \"x\""},
      {"tcp://h:4001/", ": text after the port: \"/\""},
      {"tcp://h/x", ": text after the host: \"/x\""},
      {"tcp://::1:4001", ": an IPv6 address is written in brackets, as [::1]:4001"},
      {"tcp://fe80::1:4001", ": an IPv6 address is written in brackets, as [::1]:4001"},
      {"tcp://user@h:1", ": the host may not hold '@'"},
      {"tcp://[::1:4001", ": the '[' of the host is not closed"},
      {"tcp://[host]:1", ": \"host\" in brackets is not an IPv6 address"},
      {"tcp://[::1%]:1", ": \"::1%\" in brackets is not an IPv6 address"},
      {"tcp://[::1]4001", ": text after the host: \"4001\""},
      // clang-format on
  };
  for (const auto& [name, error] : cases) {
    const PortUrlParse parse = ParsePortUrl(name);
    EXPECT_FALSE(parse.url) << name;
    EXPECT_EQ(parse.error, (std::string(1, '"') += name) + '"' + error);
  }
}

}  // namespace
}  // namespace ornat
