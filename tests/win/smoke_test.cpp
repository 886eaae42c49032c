#include <gtest/gtest.h>
#include "serial/SerialPort.h"
TEST(Smoke, Builds) { EXPECT_EQ(sizeof(DCB), 28u); }
