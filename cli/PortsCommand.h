// `corvane ports`: the serial ports in the order the search tries them, with their devices;
// with --long, what the system tells of each device (on Linux its USB details).
#pragma once

#include <ostream>
#include <string>

#include "engine/os/RunEnv.h"
#include "engine/report/Output.h"
#include "cli/PortDiagnosis.h"

namespace CLI {
class App;
}  // namespace CLI

struct CPortsOptions {
  std::string m_strFormat = "text";
  bool m_bLong = false;
};

CLI::App* AddPortsCommand(CLI::App& app, CPortsOptions& options);
int RunPorts(const CPortsOptions& options, CRunEnv& env);

// The details as ports --long and doctor show them: one labelled line each after indent,
// those the system does not tell left out.
void PrintPortDetails(std::ostream& out, const CPortDetails& details, const std::string& indent);
// vendor_id, product_id, manufacturer, product, serial (null when not told), by_id and by_path
// (lists, empty when none).
void AddPortDetailsJson(CJson& json, const CPortDetails& details);
