#include "DeviceNamespace.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <tuple>
#include <vector>

#include "serial/ComPortName.h"

namespace {

struct CTty {
  int nRank;
  std::string strFamily;
  long nNumber;
  std::string strName;
};

// Families the user is most likely to mean come first: built-in UARTs, USB adapters, USB
// modems, the ARM boards' UARTs, Bluetooth serial links.
const char* const kFamilies[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "rfcomm"};
constexpr int kOtherFamilies = sizeof kFamilies / sizeof kFamilies[0];

CTty Classify(const std::string& name) {
  std::size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  CTty tty{kOtherFamilies, name.substr(0, digits), -1, name};
  // Keep a few digits only, so a name with an absurd number cannot overflow the count.
  if (digits < name.size() && name.size() - digits <= 9) {
    tty.nNumber = 0;
    for (std::size_t i = digits; i < name.size(); ++i) {
      tty.nNumber = tty.nNumber * 10 + (name[i] - '0');
    }
  }
  for (int i = 0; i < kOtherFamilies; ++i) {
    if (tty.strFamily == kFamilies[i]) tty.nRank = i;
  }
  return tty;
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// serial_core reports PORT_UNKNOWN (0) for a UART slot the driver reserved but found no
// chip in: 8250 keeps four such ghost ttyS ports on most PCs.
bool IsGhostUart(const std::string& ttyDir) {
  std::ifstream type(ttyDir + "/type");
  if (!type) return false;
  long value = -1;
  if (!(type >> value)) return false;
  return value == 0;
}

}  // namespace

CDeviceNamespace CDeviceNamespace::FromSysfs(const std::string& sysfsTtyDir,
                                             const std::string& devDir) {
  CDeviceNamespace ns;
  ns.m_bLive = true;
  ns.m_strSysfsTtyDir = sysfsTtyDir;
  ns.m_strDevDir = devDir;
  return ns;
}

CDeviceNamespace CDeviceNamespace::FromMap(PortMap ports) {
  CDeviceNamespace ns;
  ns.m_ports = std::move(ports);
  return ns;
}

CDeviceNamespace::PortMap CDeviceNamespace::Ports() const {
  return m_bLive ? ScanSysfs(m_strSysfsTtyDir, m_strDevDir) : m_ports;
}

bool CDeviceNamespace::Resolve(const char* portName, std::string* path) const {
  int number = 0;
  if (!ParseExactComPortName(portName, &number)) return false;
  const PortMap ports = Ports();
  const auto found = ports.find(number);
  if (found == ports.end()) return false;
  *path = found->second;
  return true;
}

CDeviceNamespace::PortMap CDeviceNamespace::ScanSysfs(const std::string& sysfsTtyDir,
                                                      const std::string& devDir) {
  std::vector<CTty> ttys;
  if (DIR* dir = opendir(sysfsTtyDir.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.empty() || name[0] == '.') continue;
      const std::string ttyDir = sysfsTtyDir + "/" + name;
      const CTty tty = Classify(name);
      // Virtual consoles, ptmx and the like have no device behind them.
      const bool isRfcomm = tty.strFamily == "rfcomm";
      if (!isRfcomm && !Exists(ttyDir + "/device")) continue;
      if (IsGhostUart(ttyDir)) continue;
      ttys.push_back(tty);
    }
    closedir(dir);
  }

  std::sort(ttys.begin(), ttys.end(), [](const CTty& a, const CTty& b) {
    return std::tie(a.nRank, a.strFamily, a.nNumber, a.strName) <
           std::tie(b.nRank, b.strFamily, b.nNumber, b.strName);
  });

  PortMap ports;
  int number = 1;
  for (const CTty& tty : ttys) ports[number++] = devDir + "/" + tty.strName;
  return ports;
}
