#include "cli/PortDiagnosis.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "cli/posix/PortPermission.h"

namespace {

std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// Every process's id and name, from /proc.
std::vector<std::pair<std::string, std::string>> Processes() {
  std::vector<std::pair<std::string, std::string>> all;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return all;
  while (const dirent* entry = readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    all.emplace_back(pid, FirstLine("/proc/" + pid + "/comm"));
  }
  closedir(proc);
  return all;
}

bool HasOpen(const std::string& pid, const std::string& device) {
  const std::string dir = "/proc/" + pid + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr) return false;
  bool found = false;
  char target[PATH_MAX];
  while (const dirent* entry = readdir(fds)) {
    const std::string link = dir + "/" + entry->d_name;
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    if (device == target) found = true;
  }
  closedir(fds);
  return found;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// Every link in folder that leads to real, by its full path.
std::vector<std::string> LinksTo(const std::string& folder, const std::string& real) {
  std::vector<std::string> links;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return links;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string link = folder + "/" + entry->d_name;
    if (RealPath(link) == real) links.push_back(link);
  }
  closedir(dir);
  std::sort(links.begin(), links.end());
  return links;
}

// The USB device a tty belongs to: the first folder above the tty's device (its USB
// interface, or the serial port of a USB-serial converter) that has a vendor id.
std::string UsbDeviceOf(const std::string& ttyDevice) {
  // No such link: a pty, or a tty without a device behind it.
  if (access(ttyDevice.c_str(), F_OK) != 0) return std::string();
  std::string dir = RealPath(ttyDevice);
  for (int up = 0; up < 4 && dir.size() > 1; ++up) {
    if (access((dir + "/idVendor").c_str(), R_OK) == 0) return dir;
    dir = dir.substr(0, dir.rfind('/'));
  }
  return std::string();
}

}  // namespace

CPortDetails DescribeDevice(const std::string& device, const std::string& sysfsTtyDir,
                            const std::string& serialDir) {
  CPortDetails details;
  const std::string real = RealPath(device);
  const std::string usb =
      UsbDeviceOf(sysfsTtyDir + "/" + real.substr(real.rfind('/') + 1) + "/device");
  if (!usb.empty()) {
    details.m_strVendorId = FirstLine(usb + "/idVendor");
    details.m_strProductId = FirstLine(usb + "/idProduct");
    details.m_strManufacturer = FirstLine(usb + "/manufacturer");
    details.m_strProduct = FirstLine(usb + "/product");
    details.m_strSerial = FirstLine(usb + "/serial");
  }
  details.m_byId = LinksTo(serialDir + "/by-id", real);
  details.m_byPath = LinksTo(serialDir + "/by-path", real);
  return details;
}

std::string DescribeNoPermission(const std::string& device) {
  struct stat info {};
  if (stat(device.c_str(), &info) != 0) return "no permission to open " + device + ".";
  const CPortDetails details = DescribeDevice(device);
  const std::string real = RealPath(device);
  CNodeAccess node;
  node.m_strDevice = device;
  node.m_strKernelName = real.substr(real.rfind('/') + 1);
  node.m_strVendorId = details.m_strVendorId;
  node.m_strProductId = details.m_strProductId;
  node.m_owner = info.st_uid;
  node.m_group = info.st_gid;
  node.m_mode = info.st_mode;
  node.m_user = geteuid();
  return AdvisePermission(node, SystemGroups());
}

std::string DescribeHolders(const std::string& device) {
  const std::string real = RealPath(device);
  std::string holders;
  bool modemManager = false;
  for (const auto& process : Processes()) {
    if (process.second == "ModemManager") modemManager = true;
    if (!HasOpen(process.first, real)) continue;
    holders += (holders.empty() ? "" : ", ") + process.second + " (pid " + process.first + ")";
  }
  std::string text = real + " is held by another program";
  text += holders.empty() ? " (none of the processes this user can see has it open)."
                          : ": " + holders + ". Close it, or stop that process.";
  const size_t slash = real.rfind('/');
  const std::string lock = "/var/lock/LCK.." + real.substr(slash + 1);
  const std::string owner = FirstLine(lock);
  if (access(lock.c_str(), F_OK) == 0) {
    text += " A lock file " + lock + " names pid " + owner +
            "; if that process is gone, remove the file.";
  }
  if (modemManager) {
    text +=
        " ModemManager is running and may probe USB serial adapters: stop it (sudo systemctl "
        "stop ModemManager) or tell it to leave the adapter alone.";
  }
  return text;
}
