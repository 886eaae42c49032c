#include "ReadTimeouts.h"

#include <algorithm>

namespace {

// The largest total, MAXDWORD x MAXDWORD + MAXDWORD ms, fits 64 bits but its microseconds do
// not; beyond this a few microseconds gone make no difference to the wait.
constexpr uint64_t kLargestCountedMs = static_cast<uint64_t>(INT64_MAX) / 2000;

// What is left of limitMs after elapsed, rounded up: a wait cut to 0 ms would give up before
// the deadline.
int64_t MsLeft(uint64_t limitMs, std::chrono::microseconds elapsed) {
  if (limitMs > kLargestCountedMs) {
    return static_cast<int64_t>(std::min<uint64_t>(limitMs, INT64_MAX));
  }
  const int64_t leftUs = static_cast<int64_t>(limitMs) * 1000 - elapsed.count();
  return std::max<int64_t>(0, (leftUs + 999) / 1000);
}

}  // namespace

int64_t ReadWaitMs(const COMMTIMEOUTS& t, DWORD toRead, DWORD got,
                   std::chrono::microseconds sinceStart, std::chrono::microseconds sinceLastByte) {
  const bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                         t.ReadTotalTimeoutConstant == 0;
  const bool firstByteEnds = t.ReadIntervalTimeout == MAXDWORD &&
                             t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                             t.ReadTotalTimeoutConstant != MAXDWORD;
  if (immediate || (firstByteEnds && got > 0)) return 0;

  int64_t waitMs = kReadWaitsForever;
  if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
    const uint64_t totalMs = firstByteEnds
                                 ? t.ReadTotalTimeoutConstant
                                 : static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * toRead +
                                       t.ReadTotalTimeoutConstant;
    waitMs = MsLeft(totalMs, sinceStart);
  }
  const bool useInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
  if (useInterval && got > 0) {
    const int64_t gapMs = MsLeft(t.ReadIntervalTimeout, sinceLastByte);
    waitMs = waitMs == kReadWaitsForever ? gapMs : std::min(waitMs, gapMs);
  }
  return waitMs;
}
