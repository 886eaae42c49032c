#include "cli/DoctorCommand.h"

#include <vector>

#include "engine/session/ModuleSession.h"
#include "cli/PortDiagnosis.h"
#include "cli/PortsCommand.h"
#include "serial/SerialPort.h"

namespace {

// The device behind a port name, as the system lists it; the name itself for a device path.
std::string DeviceOf(const CPortChoice& port, CommApi& api) {
  if (port.m_owned) return port.m_strShown;
  std::vector<char> target(4096, '\0');
  const DWORD got = api.QueryDosDeviceA(port.m_strListed.c_str(), target.data(),
                                        static_cast<DWORD>(target.size() - 1));
  return got != 0 ? std::string(target.data()) : port.m_strListed;
}

// What stands in the way on one port, one line; true when a module answered there.
bool Diagnose(const CPortChoice& port, CRunEnv& env) {
  const std::string device = DeviceOf(port, *port.m_pApi);
  env.m_out << PrintableName(port.m_strShown)
            << (device != port.m_strShown ? " (" + PrintableName(device) + ")" : std::string())
            << ": ";
  CModuleSession session(*port.m_pApi, env.m_interrupt);
  session.ListOnly(port.m_strListed);
  session.SetPace(EPace::Fast);
  if (session.Probe(port.m_strListed)) {
    CModuleReport report;
    if (session.Read(false, report)) {
      env.m_out << "a module answers; its address is " << KnownAddress(report) << ".\n";
    } else {
      env.m_out << "a module answers the probe but not the Read (" << OutcomeText(report.m_outcome)
                << "): check the power and that the module stays in its setting mode.\n";
    }
    return true;
  }
  switch (session.LastOpenError()) {
    case 0:
      env.m_out << "it opens, but nothing answers the probe at 9600 baud. Check the wiring (TX to "
                   "RX, RX to TX, and ground), the module's power, and that the module is in its "
                   "setting mode.\n";
      break;
    case ERROR_PRIVILEGE_NOT_HELD:
      env.m_out << DescribeNoPermission(device) << "\n";
      break;
    case ERROR_ACCESS_DENIED:
      env.m_out << DescribeHolders(device) << "\n";
      break;
    case ERROR_NOT_SUPPORTED:
      env.m_out << "this is the terminal corvane runs in, not a serial port.\n";
      break;
    default:
      env.m_out << "there is no such device (unplugged, or the name is wrong): `corvane ports` "
                   "lists those there are.\n";
      break;
  }
  return false;
}

// One port looked at: true when a module answered there. The device's details follow.
bool Examine(const CPortChoice& port, CRunEnv& env) {
  const bool answered = Diagnose(port, env);
  PrintPortDetails(env.m_out, DescribeDevice(DeviceOf(port, *port.m_pApi)), "  ");
  return answered;
}

}  // namespace

CLI::App* AddDoctorCommand(CLI::App& app, CDoctorOptions& options, bool pathsAllowed) {
  CLI::App* doctor = app.add_subcommand(
      "doctor", "Say in plain words why a port does not reach a module, and what to do");
  AddPortOption(doctor, options.m_strPort, pathsAllowed);
  return doctor;
}

int RunDoctor(const CDoctorOptions& options, CRunEnv& env) {
  std::vector<std::string> names;
  if (options.m_strPort.empty()) {
    CSerialPort(env.m_api).ListPorts(names);
  } else {
    names.push_back(options.m_strPort);
  }
  if (names.empty()) env.m_out << "There are no serial ports on this machine.\n";
  bool answered = false;
  for (const std::string& name : names) {
    if (env.m_interrupt.IsSet()) return kExitInterrupted;
    const CPortChoice port = ChoosePort(name, env);
    if (Examine(port, env)) answered = true;
  }
  return answered ? kExitOk : kExitNoModule;
}
