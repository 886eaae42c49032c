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

}  // namespace

std::string LedgerTimeNow() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  const long long seconds = ms / 1000;
  long long year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(seconds / 86400, &year, &month, &day);
  const long long inDay = seconds % 86400;
  char text[40];
  snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", year, month, day,
           inDay / 3600, inDay / 60 % 60, inDay % 60, ms % 1000);
  return text;
}

bool LedgerTimeSeconds(const std::string& text, double* seconds) {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milli = 0;
  if (!Digits(text, 0, 4, &year) || text.size() < 16 || text[4] != '-' || text[7] != '-' ||
      text[10] != 'T' || text[13] != ':' || !Digits(text, 5, 2, &month) ||
      !Digits(text, 8, 2, &day) || !Digits(text, 11, 2, &hour) || !Digits(text, 14, 2, &minute))
    return false;
  if (text.size() >= 19 && (text[16] != ':' || !Digits(text, 17, 2, &second))) return false;
  if (text.size() >= 23 && (text[19] != '.' || !Digits(text, 20, 3, &milli))) return false;
  const long long days = DaysFromCivil(year, month, day);
  *seconds = static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second) + milli / 1e3;
  return true;
}
