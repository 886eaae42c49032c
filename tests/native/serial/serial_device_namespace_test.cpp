// COM names for the machine's ttys, read from a fake sysfs tree in a temporary folder.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "DeviceNamespace.h"

namespace {

class SerialDeviceNamespace : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/serial_ns_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    m_strRoot = dir;
    m_strTty = m_strRoot + "/class/tty";
    ASSERT_EQ(mkdir((m_strRoot + "/class").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(m_strTty.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((m_strRoot + "/devices").c_str(), 0700), 0);
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + m_strRoot + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }

  // A tty as the kernel shows it: a folder with an optional `device` link and `type` file.
  void AddTty(const std::string& name, bool hasDevice, const char* type = nullptr) {
    const std::string dir = m_strTty + "/" + name;
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    if (hasDevice) {
      ASSERT_EQ(symlink("../../../devices", (dir + "/device").c_str()), 0);
    }
    if (type != nullptr) std::ofstream(dir + "/type") << type << "\n";
  }
  CDeviceNamespace::PortMap Scan() const { return CDeviceNamespace::ScanSysfs(m_strTty, "/dev"); }

  std::string m_strRoot;
  std::string m_strTty;
};

TEST_F(SerialDeviceNamespace, RealPortsInFamilyOrderEachByNumber) {
  AddTty("ttyUSB10", true);
  AddTty("ttyUSB2", true);
  AddTty("ttyACM0", true);
  AddTty("ttyS1", true, "4");
  AddTty("ttyS0", true, "4");
  AddTty("ttyS2", true, "0");
  AddTty("ttyS3", true, "0");
  AddTty("rfcomm0", false);
  AddTty("ttyAMA0", true, "91");
  AddTty("ttyXRUSB0", true);
  AddTty("ttyGS0", true);
  AddTty("tty1", false);
  AddTty("console", false);
  AddTty("ptmx", false);
  const CDeviceNamespace::PortMap expected{
      {1, "/dev/ttyS0"},    {2, "/dev/ttyS1"},   {3, "/dev/ttyUSB2"},
      {4, "/dev/ttyUSB10"}, {5, "/dev/ttyACM0"}, {6, "/dev/ttyAMA0"},
      {7, "/dev/rfcomm0"},  {8, "/dev/ttyGS0"},  {9, "/dev/ttyXRUSB0"}};
  EXPECT_EQ(Scan(), expected);
}

TEST_F(SerialDeviceNamespace, NumberingStaysWhileTheDevicesStay) {
  AddTty("ttyUSB1", true);
  AddTty("ttyS0", true, "4");
  CDeviceNamespace ns = CDeviceNamespace::FromSysfs(m_strTty, "/dev");
  const CDeviceNamespace::PortMap first = ns.Ports();
  EXPECT_EQ(ns.Ports(), first);
  EXPECT_EQ(first, (CDeviceNamespace::PortMap{{1, "/dev/ttyS0"}, {2, "/dev/ttyUSB1"}}));

  AddTty("ttyACM0", true);
  std::string path;
  ASSERT_TRUE(ns.Resolve("COM3", &path)) << "a device plugged in later shows up";
  EXPECT_EQ(path, "/dev/ttyACM0");
  ASSERT_TRUE(ns.Resolve("com2", &path));
  EXPECT_EQ(path, "/dev/ttyUSB1");
}

TEST_F(SerialDeviceNamespace, MissingOrEmptyTreeHasNoPorts) {
  EXPECT_TRUE(Scan().empty());
  EXPECT_TRUE(CDeviceNamespace::ScanSysfs(m_strRoot + "/absent", "/dev").empty());
  AddTty("ttyS0", true, "0");
  AddTty("ttyS1", true, "garbage");
  EXPECT_EQ(Scan(), (CDeviceNamespace::PortMap{{1, "/dev/ttyS1"}}))
      << "only a type that reads 0 marks a ghost";
}

TEST(SerialDeviceNamespaceMap, ResolvesOnlyExactComNames) {
  const CDeviceNamespace ns = CDeviceNamespace::FromMap({{4, "/dev/pts/9"}, {12, "/dev/x"}});
  std::string path;
  EXPECT_TRUE(ns.Resolve("COM4", &path));
  EXPECT_EQ(path, "/dev/pts/9");
  EXPECT_TRUE(ns.Resolve("cOm12", &path));
  EXPECT_EQ(path, "/dev/x");
  for (const char* name :
       {"COM04", "COM", "COM-4", "COM 4", "COM4x", "LPT4", "COM5", "", "COM99999999999"}) {
    EXPECT_FALSE(ns.Resolve(name, &path)) << name;
  }
  EXPECT_FALSE(ns.Resolve(nullptr, &path));
}

}  // namespace
