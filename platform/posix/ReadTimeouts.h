// The read time-outs of Win32 (COMMTIMEOUTS) as one rule: how long ReadFile waits for the
// next byte. Pure: the caller measures the time and does the waiting.
//
// The rules, as Win32 defines them:
//   - interval MAXDWORD, multiplier and constant 0: return at once with what has arrived;
//   - interval and multiplier MAXDWORD, constant below MAXDWORD: wait up to the constant for a
//     first byte, then return at once with it and whatever has arrived behind it;
//   - otherwise a total of multiplier x bytes asked + constant, when either is non-zero,
//     bounds the whole read, and an interval other than 0 and MAXDWORD bounds the gap after
//     each byte (not the wait for the first one);
//   - all zero: wait without end until the count asked has arrived.
#pragma once

#include <chrono>
#include <cstdint>

#include "wintypes.h"

// No end to the wait.
constexpr int64_t kReadWaitsForever = -1;

// The milliseconds to wait for the next byte of a read of toRead bytes that has got bytes so
// far, sinceStart after the read began and sinceLastByte after the last byte arrived (only
// looked at once a byte has). Rounded up, so the wait never ends before its deadline; 0 means
// take what has arrived and return; kReadWaitsForever has no end. A total too large to count
// in microseconds is returned as it is, never as a negative number.
int64_t ReadWaitMs(const COMMTIMEOUTS& timeouts, DWORD toRead, DWORD got,
                   std::chrono::microseconds sinceStart, std::chrono::microseconds sinceLastByte);
