#include "engine/station/SlotPorts.h"

#include <filesystem>
#include <sstream>
#include <system_error>

#include "engine/os/Platform.h"
#include "engine/values/Settings.h"
#include "serial/SerialPort.h"

namespace fs = std::filesystem;

namespace {

bool IsComName(const std::string& port) {
  return port.size() > 3 && (port[0] == 'C' || port[0] == 'c') &&
         (port[1] == 'O' || port[1] == 'o') && (port[2] == 'M' || port[2] == 'm');
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

CPortFinder::CPortFinder(CRunEnv& env, std::vector<std::string> fixed, std::string watch,
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
      if (slot.m_bPresent) m_watchedDevices.insert(DeviceIdentity(port));
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
        if (m_watchedDevices.count(DeviceIdentity(port)) > 0) continue;
      }
      CSlotPort& slot = m_seen[port];
      slot.m_strPort = slot.m_strName = port;
      slot.m_bPath = port != name;
      slot.m_bPresent = true;
    }
  }
  return OneSlotPerDevice();
}

std::vector<CSlotPort> CPortFinder::OneSlotPerDevice() {
  // The name that first gave a device its slot keeps it while the device is there; another
  // name of that device (a link, a second by-path name) never becomes a slot of its own.
  std::map<std::string, std::string> owners;
  for (const auto& seen : m_seen) {
    const CSlotPort& slot = seen.second;
    if (!slot.m_bPresent || !slot.m_bPath) continue;
    const std::string device = DeviceIdentity(slot.m_strPort);
    if (device.empty()) continue;
    const auto owner = owners.find(device);
    const bool older = m_shown.count(slot.m_strPort) > 0;
    if (owner == owners.end() || (older && m_shown.count(owner->second) == 0)) {
      owners[device] = slot.m_strPort;
    }
  }
  std::vector<CSlotPort> ports;
  for (auto& seen : m_seen) {
    CSlotPort slot = seen.second;
    if (slot.m_bPresent && slot.m_bPath) {
      const std::string device = DeviceIdentity(slot.m_strPort);
      const auto owner = owners.find(device);
      if (owner != owners.end() && owner->second != slot.m_strPort) {
        if (m_shown.count(slot.m_strPort) == 0) continue;
        slot.m_bPresent = false;  // a slot already, but now only another name of a device
      }
    }
    m_shown.insert(slot.m_strPort);
    ports.push_back(slot);
  }
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
