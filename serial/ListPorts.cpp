#include <cstring>
#include <string>
#include <vector>

#include "serial/ComPortName.h"
#include "serial/SerialPort.h"

namespace {

// The system's listing starts at 64 KiB. A machine with many devices may not fit; the
// buffer then doubles until this bound rather than leaving the user with no port at all.
constexpr DWORD kFirstListingSize = 65536;
constexpr DWORD kLargestListingSize = 16u * 1024 * 1024;
constexpr int kHighestProbedPort = 255;

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
    if (ParseListedComPortName(name, &number)) list.push_back(ComPortName(number));
    name += length + 1;
    if (name >= names.data() + names.size()) break;
  }
}

void ListByProbing(CommApi& api, std::vector<std::string>& list) {
  for (int n = 1; n <= kHighestProbedPort; ++n) {
    const std::string path = "\\\\.\\" + ComPortName(n);
    HANDLE handle = api.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
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
    if (exists) list.push_back(ComPortName(n));
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
