// What the operating system can tell about a serial device that would not open: who may open
// it, and who holds it. Plain sentences for `corvane doctor`.
#pragma once

#include <string>

// Why the user may not open device, and the remedy (the device's group and how to join it).
std::string DescribeNoPermission(const std::string& device);
// Who holds device: processes with it open (pid and name), a UUCP lock file, ModemManager.
std::string DescribeHolders(const std::string& device);
