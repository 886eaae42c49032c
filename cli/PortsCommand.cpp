#include "cli/PortsCommand.h"

#include <vector>

#include "cli/CommonOptions.h"
#include "serial/SerialPort.h"

CLI::App* AddPortsCommand(CLI::App& app, CPortsOptions& options) {
  CLI::App* ports = app.add_subcommand("ports", "List the serial ports in search order");
  ports->add_flag("--long,-l", options.m_bLong,
                  "With each device's details: on Linux its USB vendor and product id, "
                  "manufacturer, product, serial number and /dev/serial names");
  AddFormatOption(ports, options.m_strFormat);
  return ports;
}

int RunPorts(const CPortsOptions& options, CRunEnv& env) {
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
    const CPortDetails details =
        options.m_bLong && !device.empty() ? DescribeDevice(device) : CPortDetails();
    if (json) {
      CJson port = {{"port", name}, {"device", device}};
      if (options.m_bLong) AddPortDetailsJson(port, details);
      list.push_back(port);
    } else {
      env.m_out << name << (device.empty() ? "" : "\t" + PrintableName(device)) << "\n";
      PrintPortDetails(env.m_out, details, "  ");
    }
  }
  if (json) env.m_out << DumpJson({{"ports", list}}) << "\n";
  return kExitOk;
}

void PrintPortDetails(std::ostream& out, const CPortDetails& details, const std::string& indent) {
  const auto line = [&](const char* label, const std::string& value) {
    if (!value.empty()) out << indent << label << Printable(value) << "\n";
  };
  if (!details.m_strVendorId.empty() || !details.m_strProductId.empty()) {
    line("USB id:       ", details.m_strVendorId + ":" + details.m_strProductId);
  }
  line("manufacturer: ", details.m_strManufacturer);
  line("product:      ", details.m_strProduct);
  line("serial:       ", details.m_strSerial);
  for (const std::string& link : details.m_byId) line("by-id:        ", link);
  for (const std::string& link : details.m_byPath) line("by-path:      ", link);
}

void AddPortDetailsJson(CJson& json, const CPortDetails& details) {
  const auto text = [](const std::string& value) { return value.empty() ? CJson() : CJson(value); };
  json["vendor_id"] = text(details.m_strVendorId);
  json["product_id"] = text(details.m_strProductId);
  json["manufacturer"] = text(details.m_strManufacturer);
  json["product"] = text(details.m_strProduct);
  json["serial"] = text(details.m_strSerial);
  json["by_id"] = details.m_byId;
  json["by_path"] = details.m_byPath;
}
