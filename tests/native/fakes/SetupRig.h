// CSetupOperations wired to a scripted machine: ports with scripted module behaviour, a
// recording view and a fake clock, all writing to one timeline. Plus the scripts of a module
// that answers everything at once.
#pragma once

#include <string>
#include <vector>

#include "fakes/EventTimeline.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeSetupView.h"
#include "fakes/ScriptedCommApi.h"
#include "protocol/SetupOperations.h"
#include "serial/SerialPort.h"

// A module's settings as it reports them.
struct CModuleSettings {
  std::vector<BYTE> m_peerAddr{0x01, 0x02, 0x0A, 0x0B, 0xC0, 0xFF};
  std::vector<BYTE> m_deviceAddr{0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
  std::string m_strName = "Corvane-BT";
  std::string m_strPin = "1234";
  BYTE m_nRole = 'M';
};

// The replies of a Read in which every query succeeds at its first try, CMD_OPEN included.
inline CPortScript GoodReadScript(const CModuleSettings& module = CModuleSettings(),
                                  bool bTurnOff = false) {
  CPortScript script;
  script.Ack()
      .Reply(0xF2, module.m_peerAddr)
      .Reply(0xF4, module.m_deviceAddr)
      .ReplyText(0xF1, module.m_strName)
      .ReplyText(0xF3, module.m_strPin)
      .Reply(0xF5, std::vector<BYTE>{module.m_nRole});
  if (bTurnOff) script.Ack();
  return script;
}

// The acknowledgements of a Program in which every command succeeds at its first try.
inline CPortScript GoodProgramScript(bool bTurnOff = false) {
  CPortScript script;
  script.Ack().Ack().Ack().Ack().Ack();
  if (bTurnOff) script.Ack();
  return script;
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

  // A port with a module that answers the probe; operation is the script of the opening
  // for the operation that follows.
  CScriptedCommApi::CPort& AddModulePort(const std::string& name, const CPortScript& operation) {
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
};
