// Port discovery both ways: reading the system's device names, and probing COM1..COM255.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/FakeCommApi.h"
#include "serial/SerialPort.h"

namespace {

using Names = std::vector<std::string>;

Names ListWith(CFakeCommApi& api) {
  CSerialPort port(api);
  Names list;
  port.ListPorts(list);
  return list;
}

TEST(SerialListPorts, NtReadsAllDeviceNamesIntoA64KiBBuffer) {
  CFakeCommApi api;
  api.SetDeviceNames({"COM3", "C:", "COM1"});
  EXPECT_EQ(ListWith(api), (Names{"COM3", "COM1"}));
  EXPECT_EQ(api.m_dwVersionInfoSize, 148u);
  EXPECT_TRUE(api.m_bQueriedAll);
  EXPECT_EQ(api.m_queryMaxes, std::vector<DWORD>{65535});
  EXPECT_EQ(api.Count("CreateFileA"), 0);
}

TEST(SerialListPorts, NamesAreTakenAndNumberedLikeTheSystemDoes) {
  CFakeCommApi api;
  api.SetDeviceNames({"COM", "com5", "COM04", "COM1", "COM01", "COMX", "cOm 7", "COM-2", "COM12abc",
                      "COM+8", "COMPORT9", "ACOM3", "CO", "PhysicalDrive0", "COM2147483647",
                      "COM2147483648", "COM-2147483648", "COM99999999999999999999", "COM300"});
  EXPECT_EQ(ListWith(api), (Names{"COM5", "COM4", "COM1", "COM1", "COM0", "COM7", "COM-2", "COM12",
                                  "COM8", "COM0", "COM2147483647", "COM-2147483648", "COM300"}));
}

TEST(SerialListPorts, AppendsToWhatTheListHolds) {
  CFakeCommApi api;
  api.SetDeviceNames({"COM2"});
  CSerialPort port(api);
  Names list{"COM9"};
  port.ListPorts(list);
  EXPECT_EQ(list, (Names{"COM9", "COM2"}));
}

TEST(SerialListPorts, FailedListingLeavesTheListEmptyAndProbesNothing) {
  CFakeCommApi api;
  api.SetDeviceNames({"COM1"});
  api.m_dwListingError = ERROR_ACCESS_DENIED;
  EXPECT_TRUE(ListWith(api).empty());
  EXPECT_EQ(api.Count("QueryDosDeviceA"), 1);
  EXPECT_EQ(api.Count("CreateFileA"), 0);
}

TEST(SerialListPorts, ListingTooLargeForTheBufferGrowsIt) {
  CFakeCommApi api;
  api.SetDeviceNames({"COM6", "COM2"});
  api.m_dwListingNeeds = 200000;
  EXPECT_EQ(ListWith(api), (Names{"COM6", "COM2"}));
  EXPECT_EQ(api.m_queryMaxes, (std::vector<DWORD>{65535, 131071, 262143}));
}

TEST(SerialListPorts, GrowthStopsAt16MiB) {
  CFakeCommApi api;
  api.SetDeviceNames({"COM6"});
  api.m_dwListingNeeds = 64u * 1024 * 1024;
  EXPECT_TRUE(ListWith(api).empty());
  ASSERT_FALSE(api.m_queryMaxes.empty());
  EXPECT_EQ(api.m_queryMaxes.back(), 16u * 1024 * 1024 - 1);
  EXPECT_EQ(api.m_queryMaxes.size(), 9u);
}

TEST(SerialListPorts, ListingFillingTheWholeBufferStaysInBounds) {
  CFakeCommApi api;
  // Names that run to the very last offered byte without an empty name after them.
  std::string listing;
  while (listing.size() < 65535 - 6) listing += std::string("COM12") + '\0';
  listing.resize(65535, 'M');
  api.m_listing = listing;
  const Names list = ListWith(api);
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front(), "COM12");
}

class SerialProbePorts : public ::testing::Test {
 protected:
  void SetUp() override {
    m_api.m_dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    m_api.m_dwOtherPathError = ERROR_FILE_NOT_FOUND;
  }
  static std::string Path(int n) { return "\\\\.\\COM" + std::to_string(n); }

  CFakeCommApi m_api;
};

TEST_F(SerialProbePorts, PresentBusyAndFailingPortsAreListed) {
  m_api.m_openErrors[Path(1)] = 0;
  m_api.m_openErrors[Path(2)] = ERROR_ACCESS_DENIED;
  m_api.m_openErrors[Path(3)] = ERROR_GEN_FAILURE;
  m_api.m_openErrors[Path(4)] = ERROR_INVALID_PARAMETER;
  m_api.m_openErrors[Path(255)] = 0;
  m_api.m_openErrors[Path(256)] = 0;
  EXPECT_EQ(ListWith(m_api), (Names{"COM1", "COM2", "COM3", "COM255"}));
  ASSERT_EQ(m_api.m_openPaths.size(), 255u);
  EXPECT_EQ(m_api.m_openPaths.front(), Path(1));
  EXPECT_EQ(m_api.m_openPaths.back(), Path(255));
  EXPECT_EQ(m_api.m_lastAccess, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(m_api.m_lastShareMode, 0u);
  EXPECT_EQ(m_api.m_lastCreation, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(m_api.m_nCloses, 2) << "each opened port is closed at once";
  EXPECT_EQ(m_api.m_nBadCloses, 0);
  EXPECT_TRUE(m_api.m_openHandles.empty());
  EXPECT_EQ(m_api.Count("QueryDosDeviceA"), 0);
}

TEST_F(SerialProbePorts, NoPortAtAllAfter255Tries) {
  EXPECT_TRUE(ListWith(m_api).empty());
  EXPECT_EQ(m_api.Count("CreateFileA"), 255);
  EXPECT_EQ(m_api.m_nCloses, 0);
}

TEST_F(SerialProbePorts, FailedVersionQueryProbes) {
  m_api.m_dwPlatformId = VER_PLATFORM_WIN32_NT;
  m_api.m_bVersionOk = false;
  m_api.m_openErrors[Path(7)] = 0;
  EXPECT_EQ(ListWith(m_api), Names{"COM7"});
  EXPECT_EQ(m_api.Count("QueryDosDeviceA"), 0);
}

}  // namespace
