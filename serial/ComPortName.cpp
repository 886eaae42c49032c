#include "serial/ComPortName.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

bool SameLetters(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::toupper(static_cast<unsigned char>(*a)) !=
        std::toupper(static_cast<unsigned char>(*b))) {
      return false;
    }
  }
  return *a == *b;
}

}  // namespace

std::string ComPortName(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "COM%d", number);
  return name;
}

bool ParseListedComPortName(const char* name, int* number) {
  if (name == nullptr || std::strlen(name) <= 3) return false;
  if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(name[2])) != 'M') {
    return false;
  }
  const char* text = name + 3;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  // Stops one past INT_MAX, so a long run of digits cannot overflow the sum.
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return false;
  *number = static_cast<int>(value);
  return true;
}

bool ParseExactComPortName(const char* name, int* number) {
  int value = 0;
  if (!ParseListedComPortName(name, &value) || !SameLetters(name, ComPortName(value).c_str())) {
    return false;
  }
  *number = value;
  return true;
}
