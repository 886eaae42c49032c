// The COM port names of a machine without Windows device names: which "COMn" stands for
// which tty device. The POSIX CommApi lists these names for QueryDosDeviceA and resolves
// "//./COMn" and "\\.\COMn" through them for CreateFileA.
#pragma once

#include <map>
#include <string>

class CDeviceNamespace {
 public:
  // COM number -> device path.
  using PortMap = std::map<int, std::string>;

  // The machine's serial devices as the kernel lists them under sysfsTtyDir (normally
  // /sys/class/tty), opened as devDir/<name>. Looked up afresh on every call, so a device
  // plugged in later shows up; the numbering stays the same while the set of devices does not
  // change. Reads only the sysfs tree, nothing else.
  static CDeviceNamespace FromSysfs(const std::string& sysfsTtyDir = "/sys/class/tty",
                                    const std::string& devDir = "/dev");
  // A fixed set of names, as tests and tools give it.
  static CDeviceNamespace FromMap(PortMap ports);

  // The ports in COM number order. Never fails: an unreadable sysfs tree gives no ports.
  PortMap Ports() const;
  // The device path of a port name such as "COM4" (compared without regard to case, number
  // without leading zeros). False when the namespace has no such port.
  bool Resolve(const char* portName, std::string* path) const;

  // Numbers the serial ttys found under sysfsTtyDir COM1, COM2, ... in this order: ttyS,
  // ttyUSB, ttyACM, ttyAMA, rfcomm, then any other, each family by its number. A tty counts
  // when it has a `device` link (rfcomm ttys have none but count too); a UART slot whose
  // `type` reads 0 has no chip behind it and is left out.
  static PortMap ScanSysfs(const std::string& sysfsTtyDir, const std::string& devDir);

 private:
  CDeviceNamespace() = default;

  bool m_bLive = false;
  std::string m_strSysfsTtyDir;
  std::string m_strDevDir;
  PortMap m_ports;
};
