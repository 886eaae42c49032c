#include <chrono>
#include <cstdio>

#include "ledger/Ledger.h"

namespace {

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back; the
// platform's timegm and gmtime_r are not everywhere the ledger builds.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long* y, unsigned* m, unsigned* d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<long long>(yoe) + era * 400 + (*m <= 2);
}

bool Digits(const std::string& text, size_t at, size_t count, unsigned* value) {
  if (at + count > text.size()) return false;
  *value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

bool LeapYear(unsigned y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

// The time of day after the date: "THH:MM", ":SS" and ".f" to ".fff" optional; *at moves past
// what was read.
bool TimeOfDay(const std::string& text, size_t* at, long long* ms) {
  unsigned hour = 0, minute = 0, second = 0, milli = 0;
  size_t i = *at;
  if (i >= text.size() || text[i] != 'T') return true;
  if (!Digits(text, i + 1, 2, &hour) || i + 3 >= text.size() || text[i + 3] != ':' ||
      !Digits(text, i + 4, 2, &minute) || hour > 23 || minute > 59)
    return false;
  i += 6;
  if (i < text.size() && text[i] == ':') {
    if (!Digits(text, i + 1, 2, &second) || second > 59) return false;
    i += 3;
    if (i < text.size() && text[i] == '.') {
      size_t digits = 0;
      for (++i; i < text.size() && digits < 3 && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
        milli = milli * 10 + static_cast<unsigned>(text[i] - '0');
      if (digits == 0) return false;
      for (; digits < 3; ++digits) milli *= 10;
    }
  }
  *ms = ((hour * 60LL + minute) * 60 + second) * 1000 + milli;
  *at = i;
  return true;
}

}  // namespace

std::string LedgerTimeText(long long ms) {
  const long long seconds = ms / 1000;
  long long year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(seconds / 86400, &year, &month, &day);
  const long long inDay = seconds % 86400;
  // Room for the widest each field could print, though a ledger's times are far from that.
  char text[64];
  snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", year, month, day,
           inDay / 3600, inDay / 60 % 60, inDay % 60, ms % 1000);
  return text;
}

std::string LedgerTimeNow() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return LedgerTimeText(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

bool LedgerTimeMs(const std::string& text, long long* ms) {
  unsigned year = 0, month = 0, day = 0;
  if (!Digits(text, 0, 4, &year) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
      !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) || year < 1970 || month < 1 ||
      month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  size_t at = 10;
  long long inDay = 0;
  if (!TimeOfDay(text, &at, &inDay)) return false;
  if (at < text.size() && text[at] == 'Z') ++at;
  if (at != text.size()) return false;
  *ms = DaysFromCivil(year, month, day) * 86400000LL + inDay;
  return true;
}

bool LedgerTimeSeconds(const std::string& text, double* seconds) {
  long long ms = 0;
  if (text.size() < 16 || !LedgerTimeMs(text, &ms)) return false;
  *seconds = static_cast<double>(ms) / 1e3;
  return true;
}
