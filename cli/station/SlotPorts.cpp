#include "cli/station/SlotPorts.h"

#include <filesystem>
#include <sstream>
#include <system_error>

#include "cli/Settings.h"
#include "serial/SerialPort.h"

namespace fs = std::filesystem;

namespace {

bool IsComName(const std::string& port) {
  return port.size() > 3 && (port[0] == 'C' || port[0] == 'c') &&
         (port[1] == 'O' || port[1] == 'o') && (port[2] == 'M' || port[2] == 'm');
}

std::string DeviceOf(const std::string& path) {
  std::error_code error;
  const fs::path real = fs::canonical(path, error);
  return error ? std::string() : real.string();
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

CPortFinder::CPortFinder(CCliEnv& env, std::vector<std::string> fixed, std::string watch,
                         bool listing)
    : m_env(env), m_fixed(std::move(fixed)), m_strWatch(std::move(watch)), m_bListing(listing) {}

std::vector<CSlotPort> CPortFinder::Scan() {
  for (auto& seen : m_seen) seen.second.m_bPresent = false;
  std::vector<std::string> listed;
  if (m_bListing) CSerialPort(m_env.m_api).ListPorts(listed);
  for (const std::string& port : m_fixed) {
    CSlotPort& slot = m_seen[port];
    slot.m_strPort = slot.m_strName = port;
    slot.m_bPath = !IsComName(port);
    // Tried whether listed or not (a listing may leave out a port that opens, as Wine's
    // does): a port that is not there fails its probe's open, which the slot takes as gone.
    slot.m_bPresent = true;
  }
  if (!m_strWatch.empty()) {
    std::error_code error;
    // A folder that is not there (udev removes it with the last adapter) holds no ports.
    for (fs::directory_iterator entry(m_strWatch, error), end; !error && entry != end;
         entry.increment(error)) {
      const std::string name = entry->path().filename().string();
      if (name.empty() || name[0] == '.') continue;
      const std::string port = entry->path().string();
      CSlotPort& slot = m_seen[port];
      if (slot.m_strPort.empty()) {
        slot.m_strPort = port;
        slot.m_strName = name;
        slot.m_bPath = true;
      }
      std::error_code gone;
      slot.m_bPresent = fs::exists(port, gone);
      if (slot.m_bPresent) m_watchedDevices.insert(DeviceOf(port));
    }
  }
  if (m_bListing) {
    for (const std::string& name : listed) {
      char target[512] = "";
      // Where ports are device files, the slot holds the device itself: the COM numbering
      // moves when an adapter comes or goes, a device path does not.
      std::string port = name;
      if (m_env.m_fnPathApi && m_env.m_api.QueryDosDeviceA(name.c_str(), target, sizeof target)) {
        port = target;
        if (m_watchedDevices.count(DeviceOf(port)) > 0) continue;
      }
      CSlotPort& slot = m_seen[port];
      slot.m_strPort = slot.m_strName = port;
      slot.m_bPath = port != name;
      slot.m_bPresent = true;
    }
  }
  std::vector<CSlotPort> ports;
  for (const auto& seen : m_seen) ports.push_back(seen.second);
  return ports;
}

bool ParseSlotLabels(const std::string& text, std::map<std::string, std::string>* labels,
                     std::string* error) {
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t comma = line.find(',');
    const std::string where = "line " + std::to_string(number) + ": ";
    if (comma == std::string::npos) {
      *error = where + "\"" + Printable(line) + "\" is not \"port name,label\"";
      return false;
    }
    const std::string name = Trim(line.substr(0, comma));
    const std::string label = Trim(line.substr(comma + 1));
    if (name.empty() || label.empty()) {
      *error = where + "a port name and a label are both needed";
      return false;
    }
    if (label.size() > 40 || Printable(label) != label) {
      *error =
          where + "the label \"" + Printable(label) + "\" must be at most 40 printable characters";
      return false;
    }
    if (!labels->emplace(name, label).second) {
      *error = where + "\"" + Printable(name) + "\" is labelled twice";
      return false;
    }
  }
  return true;
}
