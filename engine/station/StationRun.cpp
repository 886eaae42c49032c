#include "engine/station/StationRun.h"

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>

#include "engine/os/Platform.h"
#include "engine/values/ModuleValues.h"
#include "engine/os/RunFiles.h"
#include "engine/session/PortChoice.h"
#include "engine/station/StationWords.h"
#include "engine/values/ValueTemplate.h"
#include "platform/AppendFile.h"
#include "platform/FilePolicy.h"

namespace {

// The folder of port names that stay the same for the same USB socket.
constexpr const char kDefaultWatch[] = "/dev/serial/by-path";
constexpr size_t kLabelsMaxBytes = 1u << 20;
// At a normal end a reader of the events that has fallen behind gets this long to catch up
// (as --events says); an interrupted station, or one whose events are lost, waits less.
constexpr auto kEventsEndWait = std::chrono::seconds(30);
constexpr auto kEventsHurriedWait = std::chrono::seconds(3);

ERunEnd EndOf(EStop stop) {
  switch (stop) {
    case EStop::Interrupted:
      return ERunEnd::Interrupted;
    case EStop::Count:
      return ERunEnd::Count;
    case EStop::Idle:
      return ERunEnd::Idle;
    case EStop::LedgerLost:
      return ERunEnd::LedgerLost;
    case EStop::EventsLost:
      return ERunEnd::EventsLost;
    case EStop::None:
      break;
  }
  return ERunEnd::Other;
}

}  // namespace

bool CStation::Prepare(std::string* error, int* code) {
  *code = kExitUsage;
  const std::string ledger = m_options.m_ledger.Given() ? m_options.m_ledger.m_strLocation : "";
  if (!CheckRunFiles({{"--plan", m_options.m_strPlan, CRunFile::EUse::Read},
                      {"--ledger", ledger, CRunFile::EUse::Ledger},
                      {"--events", m_options.m_strEvents, CRunFile::EUse::Append}},
                     error, code)) {
    return false;
  }
  const CSettingChoice& settings = m_options.m_settings;
  if (!m_options.m_ledger.Given()) {
    for (const auto& given : {std::make_pair("--name", settings.m_strName),
                              std::make_pair("--pin", settings.m_strPin)}) {
      if (CValueTemplate(given.second).NeedsNumber()) {
        *error = std::string(given.first) +
                 ": {seq} needs a --ledger (or CORVANE_LEDGER), which keeps the count "
                 "between runs and stations";
        return false;
      }
    }
  }
  if (!m_options.m_strPlan.empty() &&
      !LoadPlan(m_options.m_strPlan, m_env.m_interrupt, &m_plan, error)) {
    *error = "--plan: " + *error;
    return false;
  }
  std::string text;
  if (!m_options.m_strSlots.empty() &&
      (!ReadSmallFile(m_options.m_strSlots, kLabelsMaxBytes, m_env.m_interrupt, &text, error) ||
       !ParseSlotLabels(text, &m_labels, error))) {
    *error = "--slots: " + *error;
    return false;
  }
  if (!MakeFinder(error)) return false;
  long long next = 1;
  if (m_options.m_ledger.Given()) {
    m_pLedger = CLedgerRun::Open(m_options.m_ledger, error);
    CLedgerError failure;
    if (m_pLedger && !m_pLedger->Ledger().NextNumber(&next, &failure)) {
      *error = failure.m_strText;
      m_pLedger.reset();
    }
    if (!m_pLedger) {
      *code = kExitLedger;
      return false;
    }
  }
  *error = CheckValueTemplates(settings, next, true);
  return error->empty() && OpenEvents(error);
}

bool CStation::MakeFinder(std::string* error) {
  const bool paths = static_cast<bool>(m_env.m_fnPathApi);
  std::vector<std::string> fixed;
  std::set<std::string> seen;
  std::stringstream list(m_options.m_strPorts);
  for (std::string name; std::getline(list, name, ',');) {
    const std::string rule = CheckPortOption(name, paths);
    if (!rule.empty()) {
      *error = "--ports: \"" + Printable(name) + "\": " + rule;
      return false;
    }
    if (!seen.insert(name).second) {
      *error = "--ports: " + Printable(name) + " is named twice";
      return false;
    }
    fixed.push_back(name);
  }
  const bool portsGiven = m_options.m_bPortsGiven;
  const bool watchGiven = m_options.m_bWatchGiven;
  std::string watch = m_options.m_strWatch;
  if (watchGiven && !paths) {
    *error =
        "--watch: this system names its ports COM1, COM2, ...; new ones are found in "
        "its port listing";
    return false;
  }
  std::error_code failure;
  if (watchGiven && !std::filesystem::is_directory(watch, failure)) {
    *error = "--watch: " + Printable(watch) + " is not a folder";
    return false;
  }
  const bool everything = !portsGiven && !watchGiven;
  if (everything && paths) watch = kDefaultWatch;
  if (!watchGiven && !everything) watch.clear();
  m_pFinder = std::make_unique<CPortFinder>(m_env, fixed, watch, everything);
  return true;
}

bool CStation::OpenEvents(std::string* error) {
  const std::string& path = m_options.m_strEvents;
  if (path.empty()) return true;
  if (path == "-") {
    std::ostream& out = m_env.m_out;
    m_fnEvents = m_env.m_fnRawOut;
    if (!m_fnEvents)
      m_fnEvents = [&out](const std::string& line) {
        return static_cast<bool>(out << line << std::flush);
      };
    return true;
  }
  m_fnEvents = OpenLineFile(path, error);
  if (!m_fnEvents) *error = "--events: " + ShownPath(path) + " " + *error;
  return static_cast<bool>(m_fnEvents);
}

void CStation::Scan() {
  for (const CSlotPort& port : m_pFinder->Scan()) {
    const auto known = m_byPort.find(port.m_strPort);
    if (known != m_byPort.end()) {
      known->second->SetPresent(port.m_bPresent);
    } else {
      AddSlot(port);
    }
  }
}

void CStation::AddSlot(const CSlotPort& port) {
  std::unique_ptr<CommApi> owned;
  CommApi* api = &m_env.m_api;
  std::string listed = port.m_strPort;
  if (port.m_bPath) {
    owned = m_env.m_fnPathApi(port.m_strPort);
    api = owned.get();
    listed = "COM1";
  }
  auto label = m_labels.find(port.m_strName);
  if (label == m_labels.end()) label = m_labels.find(port.m_strPort);
  const std::string shown = label != m_labels.end() ? label->second : Printable(port.m_strName);
  m_slots.push_back(
      std::make_unique<CSlot>(*m_pContext, shown, port.m_strPort, listed, *api, std::move(owned)));
  CSlot& slot = *m_slots.back();
  m_byPort[port.m_strPort] = &slot;
  slot.SetPresent(port.m_bPresent);
  slot.Start();
}

void CStation::Watch() {
  // The folder is looked at four times a second, a listing of COM names twice; fixed slots
  // need no looking, only the ends of the run.
  const bool fixed = m_pFinder->Fixed();
  const DWORD tick = m_env.m_fnPathApi && !fixed ? 250 : 500;
  for (unsigned ticks = 1; !m_pContext->Stopping(); ++ticks) {
    if (m_env.m_interrupt.Wait(tick)) {
      m_pContext->Stop(EStop::Interrupted);
      break;
    }
    if (m_pEvents->Lost()) m_pContext->Stop(EStop::EventsLost);
    if (m_options.m_dIdleExit > 0 && m_pContext->IdleSeconds() >= m_options.m_dIdleExit) {
      m_pContext->Stop(EStop::Idle);
    }
    if (m_pContext->Stopping()) break;
    if (!fixed) Scan();
    // The rate goes on changing while nothing happens.
    if (ticks % 4 == 0) m_fanOut.OnCounts(m_pContext->Counts());
  }
}

int CStation::Run(const std::function<int()>& ready) {
  std::string error;
  int code = kExitUsage;
  if (!Prepare(&error, &code)) {
    if (m_env.m_interrupt.IsSet()) {
      m_env.m_err << "corvane: interrupted; nothing was sent.\n";
      return kExitInterrupted;
    }
    m_env.m_err << "corvane: " << error << "\n";
    return code;
  }
  if (ready) {
    code = ready();
    if (code != kExitOk) return code;
  }
  m_pEvents = std::make_unique<CEventStream>(m_fnEvents, StartWorkerThread);
  m_fanOut.Subscribe(*m_pEvents);
  for (CEngineEventSink* sink : m_extra) m_fanOut.Subscribe(*sink);
  m_pContext = std::make_unique<CStationContext>(m_options, m_env, m_fanOut, m_pLedger.get(),
                                                 m_options.m_strPlan.empty() ? nullptr : &m_plan);
  m_fanOut.OnCounts(m_pContext->Counts());
  Scan();
  Watch();
  for (auto& slot : m_slots) slot->Join();
  return End();
}

bool CStation::EndEvents() {
  const bool lost = m_pEvents->Lost();
  const bool hurry = lost || m_env.m_interrupt.IsSet();
  const size_t unwritten = m_pEvents->Stop(hurry ? kEventsHurriedWait : kEventsEndWait);
  if (!m_pEvents->Lost() && unwritten == 0) return true;
  std::ostream& err = m_env.m_err;
  err << "corvane: the events could not be written: " << m_pEvents->LostText();
  if (lost) err << "; the station stopped";
  if (unwritten > 0) err << "; " << unwritten << (unwritten == 1 ? " event" : " events") << " lost";
  err << "\n";
  return false;
}

int CStation::End() {
  m_fanOut.OnRunEnded({EndOf(m_pContext->StopReason()), m_pContext->Counts()});
  const bool eventsWritten = EndEvents();
  std::ostream& err = m_env.m_err;
  int code = m_pContext->Failed() > 0 ? kExitCommError : kExitOk;
  switch (m_pContext->StopReason()) {
    case EStop::Count:
      err << "corvane: " << m_options.m_nCount << (m_options.m_nCount == 1 ? " module" : " modules")
          << " ok; the station ends.\n";
      break;
    case EStop::Idle:
      err << "corvane: nothing arrived for " << m_options.m_dIdleExit
          << (m_options.m_dIdleExit == 1 ? " second" : " seconds") << "; the station ends.\n";
      break;
    default:
      break;
  }
  err << "corvane: " << StationSummary(m_pContext->Counts()) << "\n";
  if (m_pLedger && m_pLedger->Lost()) {
    err << "corvane: " << m_pLedger->LostText() << "; nothing was programmed after that";
    const std::vector<std::string> unrecorded = m_pLedger->Unrecorded();
    for (size_t k = 0; k < unrecorded.size(); ++k) {
      err << (k == 0 ? "; not recorded: " : ", ") << Printable(unrecorded[k]);
    }
    err << "\n";
    code = kExitLedger;
  }
  if (!eventsWritten) code = kExitOutput;
  if (m_env.m_interrupt.IsSet()) {
    err << "corvane: interrupted; every port is closed.\n";
    return kExitInterrupted;
  }
  return code;
}
