#include <cctype>
#include <climits>
#include <cstring>
#include <cstdio>
#include <vector>

#include "serial/SerialPort.h"

namespace {

// The system's listing starts at 64 KiB. A machine with many devices may not fit; the
// buffer then doubles until this bound rather than leaving the user with no port at all.
constexpr DWORD kFirstListingSize = 65536;
constexpr DWORD kLargestListingSize = 16u * 1024 * 1024;
constexpr int kHighestProbedPort = 255;

bool StartsWithCom(const char* name) {
  return std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
         std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
         std::toupper(static_cast<unsigned char>(name[2])) == 'M';
}

// Reads the number after "COM" like strtol: leading white space, an optional sign, digits
// up to the first other character, 0 without digits. False when it does not fit an int.
bool ParsePortNumber(const char* text, int* number) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
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

std::string PortName(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "COM%d", number);
  return name;
}

void ListByDeviceNames(CommApi& api, std::vector<std::string>& list) {
  std::vector<char> names;
  for (DWORD size = kFirstListingSize;; size *= 2) {
    names.assign(size, '\0');
    // One byte stays unused, so the listing is always followed by a NUL of ours.
    if (api.QueryDosDeviceA(nullptr, names.data(), size - 1) != 0) break;
    if (api.GetLastError() != ERROR_INSUFFICIENT_BUFFER || size >= kLargestListingSize) return;
  }

  for (const char* name = names.data(); *name != '\0';) {
    const std::size_t length = std::strlen(name);
    int number = 0;
    if (length > 3 && StartsWithCom(name) && ParsePortNumber(name + 3, &number)) {
      list.push_back(PortName(number));
    }
    name += length + 1;
    if (name >= names.data() + names.size()) break;
  }
}

void ListByProbing(CommApi& api, std::vector<std::string>& list) {
  for (int n = 1; n <= kHighestProbedPort; ++n) {
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\COM%d", n);
    HANDLE handle = api.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    bool exists = false;
    if (handle != INVALID_HANDLE_VALUE) {
      api.CloseHandle(handle);
      exists = true;
    } else {
      // Held by another program, or present but failing: the port is there all the same.
      const DWORD error = api.GetLastError();
      exists = error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE;
    }
    if (exists) list.push_back(PortName(n));
  }
}

}  // namespace

void CSerialPort::ListPorts(std::vector<std::string>& list) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (m_api.GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    ListByDeviceNames(m_api, list);
  } else {
    ListByProbing(m_api, list);
  }
}
