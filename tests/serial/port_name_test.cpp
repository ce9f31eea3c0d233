#include "port_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct Case {
  const char* name;
  const char* expected;
};

TEST(PortName, MapsComNamesPathsAndOtherNames) {
  // Devices that "exist" in this table: one udev alias.
  const std::set<std::string> existing{"/dev/COM3"};
  const auto exists = [&](const std::string& path) { return existing.count(path) > 0; };
  const Case cases[] = {
      {"COM1", "/dev/ttyS0"},  // no alias: the n-th on-board port
      {"COM3", "/dev/COM3"},   // the alias wins
      {"com3", "/dev/COM3"},   // device names are not case-sensitive
      {"COM255", "/dev/ttyS254"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},  // a path is used as is
      {"/tmp/COM1", "/tmp/COM1"},
      {"ttyUSB1", "/dev/ttyUSB1"},  // other names live in /dev
      {"COM0", "/dev/COM0"},        // no COM number: not mapped to ttyS(-1)
      {"COM01", "/dev/COM01"},
      {"COM", "/dev/COM"},
      {"COM1x", "/dev/COM1x"},
      {"COM99999999999999999999", "/dev/COM99999999999999999999"},  // no overflow
      {"", "/dev/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(serial_port::resolvePortName(c.name, exists), c.expected) << c.name;
  }
}

TEST(PortName, AsksOnlyForTheAliasOfComNames) {
  std::set<std::string> asked;
  const auto exists = [&](const std::string& path) {
    asked.insert(path);
    return false;
  };
  serial_port::resolvePortName("/dev/ttyACM0", exists);
  serial_port::resolvePortName("ttyACM0", exists);
  EXPECT_TRUE(asked.empty());
  serial_port::resolvePortName("COM12", exists);
  EXPECT_EQ(asked, std::set<std::string>{"/dev/COM12"});
}

}  // namespace
