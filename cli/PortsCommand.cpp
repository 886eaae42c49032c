#include "cli/PortsCommand.h"

#include <vector>

#include "cli/CommonOptions.h"
#include "cli/Output.h"
#include "serial/SerialPort.h"

CLI::App* AddPortsCommand(CLI::App& app, CPortsOptions& options) {
  CLI::App* ports = app.add_subcommand("ports", "List the serial ports in search order");
  AddFormatOption(ports, options.m_strFormat);
  return ports;
}

int RunPorts(const CPortsOptions& options, CCliEnv& env) {
  const bool json = options.m_strFormat == "json";
  CSerialPort serial(env.m_api);
  std::vector<std::string> names;
  serial.ListPorts(names);
  CJson list = CJson::array();
  for (const std::string& name : names) {
    std::vector<char> target(4096, '\0');
    const DWORD got = env.m_api.QueryDosDeviceA(name.c_str(), target.data(),
                                                static_cast<DWORD>(target.size() - 1));
    const std::string device = got != 0 ? std::string(target.data()) : std::string();
    if (json) {
      list.push_back({{"port", name}, {"device", device}});
    } else {
      env.m_out << name << (device.empty() ? "" : "\t" + Printable(device)) << "\n";
    }
  }
  if (json) env.m_out << DumpJson({{"ports", list}}) << "\n";
  return kExitOk;
}
