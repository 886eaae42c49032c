// CSetupOperations wired to a scripted machine: ports played by modsim's core or by scripted
// byte streams, a recording view and a fake clock, all writing to one timeline.
#pragma once

#include <iterator>
#include <list>
#include <string>
#include <vector>

#include "fakes/EventTimeline.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeSetupView.h"
#include "fakes/ScriptedCommApi.h"
#include "fakes/SimulatedModule.h"
#include "protocol/SetupOperations.h"
#include "serial/SerialPort.h"

// A module's settings as it reports them: the values the tests expect to see shown.
struct CModuleSettings {
  std::vector<BYTE> m_peerAddr{0x01, 0x02, 0x0A, 0x0B, 0xC0, 0xFF};
  std::vector<BYTE> m_deviceAddr{0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
  std::string m_strName = "Corvane-BT";
  std::string m_strPin = "1234";
  BYTE m_nRole = 'M';
};

// The same module as modsim's core holds it.
inline CModuleState ModuleState(const CModuleSettings& settings = CModuleSettings()) {
  CModuleState state;
  for (std::size_t i = 0; i < 6; ++i) {
    state.m_abAddress[i] = i < settings.m_deviceAddr.size() ? settings.m_deviceAddr[i] : 0;
    state.m_abPeer[i] = i < settings.m_peerAddr.size() ? settings.m_peerAddr[i] : 0;
  }
  state.m_strName = settings.m_strName;
  state.m_strPin = settings.m_strPin;
  state.m_bMaster = settings.m_nRole == 'M';
  return state;
}

class CSetupRig {
 public:
  CSetupRig()
      : m_clock(&m_timeline),
        m_comm(m_clock, &m_timeline),
        m_serial(m_comm),
        m_view(&m_timeline),
        m_ops(m_serial, m_view, m_clock.Sleeper()) {}

  // A port without a module: it opens, and stays silent.
  CScriptedCommApi::CPort& AddSilentPort(const std::string& name) { return m_comm.AddPort(name); }

  // A port with the module behind it (modsim's core), misbehaving as faults say.
  CScriptedCommApi::CPort& AddModulePort(const std::string& name, const CFaults& faults = CFaults(),
                                         const CModuleSettings& settings = CModuleSettings()) {
    return AddModulePort(name, ModuleState(settings), faults);
  }
  CScriptedCommApi::CPort& AddModulePort(const std::string& name, const CModuleState& state,
                                         const CFaults& faults = CFaults()) {
    CScriptedCommApi::CPort& port = m_comm.AddPort(name);
    m_modules.emplace_back(state, faults, m_comm, name);
    return port;
  }
  // The module behind the n-th port added with AddModulePort.
  CSimulatedModule& Module(std::size_t n = 0) { return *std::next(m_modules.begin(), n); }

  // A port whose device answers the probe with ACK and plays operation on the opening for the
  // operation that follows: for bytes no module would send.
  CScriptedCommApi::CPort& AddScriptedModulePort(const std::string& name,
                                                 const CPortScript& operation) {
    CScriptedCommApi::CPort& port = m_comm.AddPort(name);
    port.m_openings.push_back(CPortScript().Ack());
    port.m_openings.push_back(operation);
    return port;
  }

  // Bytes the host wrote on the n-th opening of the whole run.
  std::string Written(std::size_t opening) const {
    return opening < m_comm.m_sessions.size() ? m_comm.m_sessions[opening].Written() : "none";
  }

  CEventTimeline m_timeline;
  CFakeClock m_clock;
  CScriptedCommApi m_comm;
  CSerialPort m_serial;
  CFakeSetupView m_view;
  CSetupOperations m_ops;
  std::list<CSimulatedModule> m_modules;
};
