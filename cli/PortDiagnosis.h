// What the operating system can tell about a serial device that would not open: who may open
// it, and who holds it. Plain sentences for `corvane doctor`.
#pragma once

#include <string>
#include <vector>

// Why the user may not open device, from its owner, group and mode and the user's groups, and
// the remedy: a udev rule, logging in again, or the group to join.
std::string DescribeNoPermission(const std::string& device);
// Who holds device: processes with it open (pid and name), a UUCP lock file, ModemManager.
std::string DescribeHolders(const std::string& device);

// What the system tells of the device behind a port beyond its name: on Linux, the USB
// device's descriptor texts from sysfs and the device's names under /dev/serial. Empty where
// it is no USB device, and always on Windows, whose listing gives the device's name only.
struct CPortDetails {
  std::string m_strVendorId, m_strProductId;  // four hex digits, as the kernel writes them
  std::string m_strManufacturer, m_strProduct, m_strSerial;
  std::vector<std::string> m_byId, m_byPath;  // the links that lead to the device
};

// The details of device (a path such as /dev/ttyUSB0, or a link to one), from the tty class
// folder of sysfs and from serialDir's by-id and by-path links. Reads only those trees.
CPortDetails DescribeDevice(const std::string& device,
                            const std::string& sysfsTtyDir = "/sys/class/tty",
                            const std::string& serialDir = "/dev/serial");
