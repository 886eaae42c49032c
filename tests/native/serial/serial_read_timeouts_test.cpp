// The Win32 read time-out rules: how long the POSIX ReadFile waits for the next byte.
#include <gtest/gtest.h>

#include <chrono>

#include "ReadTimeouts.h"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

struct CCase {
  const char* pszWhat;
  COMMTIMEOUTS timeouts;  // interval, multiplier, constant
  DWORD dwToRead;
  DWORD dwGot;
  microseconds sinceStart;
  microseconds sinceLastByte;
  int64_t nWaitMs;
};

COMMTIMEOUTS Read(DWORD interval, DWORD multiplier, DWORD constant) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = interval;
  t.ReadTotalTimeoutMultiplier = multiplier;
  t.ReadTotalTimeoutConstant = constant;
  return t;
}

constexpr microseconds kNow{0};

TEST(SerialReadTimeouts, EachRuleGivesTheWaitForTheNextByte) {
  const CCase cases[] = {
      {"all zero waits without end", Read(0, 0, 0), 5, 0, kNow, kNow, kReadWaitsForever},
      {"all zero, still without end later", Read(0, 0, 0), 5, 3, milliseconds(9000),
       milliseconds(9000), kReadWaitsForever},
      {"MAXDWORD interval alone returns at once", Read(MAXDWORD, 0, 0), 5, 0, kNow, kNow, 0},
      {"first byte ends: the constant for the first", Read(MAXDWORD, MAXDWORD, 500), 5, 0,
       milliseconds(200), kNow, 300},
      {"first byte ends: nothing more after it", Read(MAXDWORD, MAXDWORD, 500), 5, 1,
       milliseconds(10), kNow, 0},
      {"per-byte total: multiplier x count + constant", Read(0, 100, 20), 3, 0, kNow, kNow, 320},
      {"per-byte total: what is left of it", Read(0, 100, 0), 1, 0, milliseconds(60), kNow, 40},
      {"a part of a millisecond left rounds up", Read(0, 100, 0), 1, 0, microseconds(99001), kNow,
       1},
      {"a total run out returns", Read(0, 100, 0), 1, 0, milliseconds(150), kNow, 0},
      {"no interval before the first byte", Read(50, 0, 0), 5, 0, milliseconds(400), kNow,
       kReadWaitsForever},
      {"the interval after a byte", Read(50, 0, 0), 5, 2, milliseconds(400), milliseconds(20), 30},
      {"the shorter of interval and total", Read(50, 100, 0), 5, 2, milliseconds(480),
       milliseconds(5), 20},
      {"MAXDWORD constant with both MAXDWORD is a plain total", Read(MAXDWORD, MAXDWORD, MAXDWORD),
       1, 1, kNow, kNow, static_cast<int64_t>(MAXDWORD) * 2},
  };
  for (const CCase& c : cases) {
    EXPECT_EQ(ReadWaitMs(c.timeouts, c.dwToRead, c.dwGot, c.sinceStart, c.sinceLastByte), c.nWaitMs)
        << c.pszWhat;
  }
}

// The largest total (MAXDWORD per byte for MAXDWORD bytes) must stay a long wait, never wrap
// to a negative one, which poll would take as no end or the caller as an error.
TEST(SerialReadTimeouts, HugeTotalsStayPositive) {
  const int64_t wait = ReadWaitMs(Read(0, MAXDWORD, MAXDWORD), MAXDWORD, 0, kNow, kNow);
  EXPECT_GT(wait, static_cast<int64_t>(MAXDWORD) * 1000);
  EXPECT_GT(ReadWaitMs(Read(0, MAXDWORD, 0), 70000, 0, milliseconds(5), kNow),
            static_cast<int64_t>(MAXDWORD));
}

}  // namespace
