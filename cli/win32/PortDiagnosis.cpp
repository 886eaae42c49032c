#include "cli/PortDiagnosis.h"

// Windows says only that access is denied or that another program has the port open.
std::string DescribeNoPermission(const std::string& device) {
  return "Windows denies access to " + device + ".";
}

std::string DescribeHolders(const std::string& device) {
  return device + " is open in another program (a terminal, a modem tool, another corvane): " +
         "close it and try again.";
}

CPortDetails DescribeDevice(const std::string&, const std::string&, const std::string&) {
  return CPortDetails();
}
