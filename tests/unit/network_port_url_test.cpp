#include <gtest/gtest.h>

#include "serial/network/port_url.h"

namespace ornat {
namespace {

TEST(PortUrl, NamesWithASchemeBecomeTheLineTheyNameInOneSpelling) {
  struct Case {
    const char* name;
    NetScheme scheme;
    const char* host;
    std::uint16_t port;
    const char* canonical;
  } cases[] = {
      {"tcp://10.0.0.5:4001", NetScheme::kTcp, "10.0.0.5", 4001, "tcp://10.0.0.5:4001"},
      {"RFC2217://moxa-3.plant:950", NetScheme::kRfc2217, "moxa-3.plant", 950,
       "rfc2217://moxa-3.plant:950"},
      {"modbus-tcp://gw", NetScheme::kModbusTcp, "gw", 502, "modbus-tcp://gw:502"},
      {"modbus-tcp://gw:1502", NetScheme::kModbusTcp, "gw", 1502, "modbus-tcp://gw:1502"},
      {"rfc2217://[::1]:4001", NetScheme::kRfc2217, "::1", 4001, "rfc2217://[::1]:4001"},
      {"tcp://[fe80::1%eth0]:1", NetScheme::kTcp, "fe80::1%eth0", 1, "tcp://[fe80::1%eth0]:1"},
      {"modbus-tcp://[::ffff:10.0.0.1]", NetScheme::kModbusTcp, "::ffff:10.0.0.1", 502,
       "modbus-tcp://[::ffff:10.0.0.1]:502"},
      {"tcp://h:65535", NetScheme::kTcp, "h", 65535, "tcp://h:65535"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(HasUrlScheme(c.name)) << c.name;
    const PortUrlParse parse = ParsePortUrl(c.name);
    ASSERT_TRUE(parse.url) << c.name << ": " << parse.error;
    EXPECT_EQ(parse.url->scheme, c.scheme) << c.name;
    EXPECT_EQ(parse.url->host, c.host) << c.name;
    EXPECT_EQ(parse.url->port, c.port) << c.name;
    EXPECT_EQ(FormatPortUrl(*parse.url), c.canonical) << c.name;
  }
}

TEST(PortUrl, LocalPortNamesAreNotUrls) {
  for (const char* name : {"/dev/ttyUSB0", "COM5", "\\\\.\\COM12", "/tmp/ttyV0", "tcp:host:1",
                           "://h:1", "1tcp://h:1", ""})
    EXPECT_FALSE(HasUrlScheme(name)) << name;
}

TEST(PortUrl, AMalformedUrlIsRefusedSayingWhatIsWrong) {
  struct Case {
    const char* name;
    const char* error;
  } cases[] = {
      {"udp://h:1",
       "\"udp://h:1\": unknown scheme \"udp\" (the schemes are tcp://, rfc2217:// "
       "and modbus-tcp://)"},
      {"tcp://:4001", "\"tcp://:4001\" names no host"},
      {"tcp://h", "\"tcp://h\" names no port (tcp://host:port)"},
      {"tcp://h:", "\"tcp://h:\": the port is missing; it must be 1 to 65535"},
      {"tcp://h:0", "\"tcp://h:0\": the port is 0; it must be 1 to 65535"},
      {"rfc2217://h:65536", "\"rfc2217://h:65536\": the port is 65536; it must be 1 to 65535"},
      {"tcp://h:4294967297",
       "\"tcp://h:4294967297\": the port is 4294967297; it must be 1 to "
       "65535"},
      {"tcp://h:-1", "\"tcp://h:-1\": the port \"-1\" is not a number 1 to 65535"},
      {"tcp://h:40x", "\"tcp://h:40x\": text after the port: \"x\""},
      {"tcp://h:4001/", "\"tcp://h:4001/\": text after the port: \"/\""},
      {"tcp://h/x", "\"tcp://h/x\": text after the host: \"/x\""},
      {"tcp://::1:4001",
       "\"tcp://::1:4001\": an IPv6 address is written in brackets, as "
       "[::1]:4001"},
      {"tcp://fe80::1:4001",
       "\"tcp://fe80::1:4001\": an IPv6 address is written in brackets, "
       "as [::1]:4001"},
      {"tcp://user@h:1", "\"tcp://user@h:1\": the host may not hold '@'"},
      {"tcp://[::1:4001", "\"tcp://[::1:4001\": the '[' of the host is not closed"},
      {"tcp://[host]:1", "\"tcp://[host]:1\": \"host\" in brackets is not an IPv6 address"},
      {"tcp://[::1%]:1", "\"tcp://[::1%]:1\": \"::1%\" in brackets is not an IPv6 address"},
      {"tcp://[::1]4001", "\"tcp://[::1]4001\": text after the host: \"4001\""},
  };
  for (const Case& c : cases) {
    const PortUrlParse parse = ParsePortUrl(c.name);
    EXPECT_FALSE(parse.url) << c.name;
    EXPECT_EQ(parse.error, c.error);
  }
}

}  // namespace
}  // namespace ornat
