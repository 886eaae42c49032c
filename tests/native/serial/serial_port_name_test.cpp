// Port names: the one reading of "COMn" that port discovery and the device namespace share.
#include <gtest/gtest.h>

#include <string>

#include "serial/ComPortName.h"

namespace {

// What a listed name stands for, or "-" when it is not a port name.
std::string Listed(const char* name) {
  int number = 12345;
  return ParseListedComPortName(name, &number) ? ComPortName(number) : "-";
}

std::string Exact(const char* name) {
  int number = 12345;
  return ParseExactComPortName(name, &number) ? ComPortName(number) : "-";
}

TEST(SerialPortName, ListedNamesAreReadLikeTheSystemReadsThem) {
  EXPECT_EQ(Listed("COM4"), "COM4");
  EXPECT_EQ(Listed("com7"), "COM7");
  EXPECT_EQ(Listed("COM04"), "COM4");
  EXPECT_EQ(Listed("COMX"), "COM0") << "no digit reads as 0";
  EXPECT_EQ(Listed("cOm \t7"), "COM7") << "white space before the number is skipped";
  EXPECT_EQ(Listed("COM-2"), "COM-2");
  EXPECT_EQ(Listed("COM+8"), "COM8");
  EXPECT_EQ(Listed("COM12abc"), "COM12") << "digits up to the first other character";
  EXPECT_EQ(Listed("COMPORT9"), "COM0");
  EXPECT_EQ(Listed("COM2147483647"), "COM2147483647");
  EXPECT_EQ(Listed("COM-2147483648"), "COM-2147483648");
}

TEST(SerialPortName, ListedNamesThatAreNoPortOrDoNotFit) {
  for (const char* name : {"COM", "CO", "", "ACOM3", "LPT1", "PhysicalDrive0", "COM2147483648",
                           "COM-2147483649", "COM99999999999999999999"}) {
    EXPECT_EQ(Listed(name), "-") << name;
  }
  EXPECT_EQ(Listed(nullptr), "-");
}

TEST(SerialPortName, ExactNamesAreOnlyWhatThePortNumberPrintsAs) {
  EXPECT_EQ(Exact("COM4"), "COM4");
  EXPECT_EQ(Exact("cOm12"), "COM12");
  EXPECT_EQ(Exact("COM2147483647"), "COM2147483647");
  for (const char* name : {"COM04", "COM", "COM 4", "COM+4", "COM4x", "COMX", "LPT4", "",
                           "COM99999999999", "COM2147483648"}) {
    EXPECT_EQ(Exact(name), "-") << name;
  }
  EXPECT_EQ(Exact(nullptr), "-");
}

TEST(SerialPortName, FailedReadingLeavesTheNumberAlone) {
  int number = 77;
  EXPECT_FALSE(ParseListedComPortName("COM99999999999999999999", &number));
  EXPECT_FALSE(ParseExactComPortName("COM05", &number));
  EXPECT_EQ(number, 77);
}

}  // namespace
