#include "engine/session/PortChoice.h"

#include "engine/os/Platform.h"
#include "serial/ComPortName.h"

namespace {

// COM, COM0, com: a port name mistyped, not a file of that name in the current folder.
bool LooksLikeComName(const std::string& value) {
  if (value.size() < 3 || (value[0] | 0x20) != 'c' || (value[1] | 0x20) != 'o' ||
      (value[2] | 0x20) != 'm') {
    return false;
  }
  return value.find_first_not_of("0123456789", 3) == std::string::npos;
}

}  // namespace

std::string CheckPortOption(const std::string& value, bool pathsAllowed) {
  int number = 0;
  if (ParseExactComPortName(value.c_str(), &number) && number >= 1) return std::string();
  // Any other path is opened as the OS opens it: a relative one from the current folder.
  if (pathsAllowed && !value.empty() && !LooksLikeComName(value)) {
    // The probe would go to the user's own screen, and the line settings with it.
    if (IsOwnTerminal(value)) return "this is the terminal corvane runs in, not a port";
    return std::string();
  }
  return pathsAllowed ? "the port is a name COM1, COM2, ... or a device path such as /dev/ttyUSB0"
                      : "the port is a name COM1, COM2, ...";
}

CPortChoice ChoosePort(const std::string& value, CRunEnv& env) {
  CPortChoice choice;
  choice.m_pApi = &env.m_api;
  int number = 0;
  if (ParseExactComPortName(value.c_str(), &number)) {
    choice.m_strListed = ComPortName(number);
    choice.m_strShown = choice.m_strListed;
  } else if (env.m_fnPathApi) {
    choice.m_owned = env.m_fnPathApi(value);
    choice.m_pApi = choice.m_owned.get();
    choice.m_strListed = "COM1";
    choice.m_strShown = value;
  }
  return choice;
}
