// The module simulator's byte machine (the core modsim runs) behind one port of the scripted
// multi-port fake: the one model of the module for tests that need a module reacting to what
// reaches it. Every byte the host writes to that port goes to CModuleSim, and its answer
// is queued on the opening that sent the command. When some of the port's scripted openings
// are CPortScript::ByModule(), the module hears only those (the others play their bytes, as
// for a module that misbehaves in one opening); otherwise it hears every opening. Several
// modules may sit on one machine, one per port. An answer due later than the opening's read
// time-out is delivered after one waited-out read; a hang-up fails every later read and write
// of the opening and every later open of the port. Bytes still queued when an opening is
// closed are dropped. The module's time is the fake clock's (for CFaults::m_nSettleMs).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "fakes/ScriptedCommApi.h"
#include "tools/modsim/ModuleSim.h"

class CSimulatedModule {
 public:
  // Attaches to comm (its m_fnOnWrite) for the port named port; must outlive comm's use.
  CSimulatedModule(const CModuleState& state, const CFaults& faults, CScriptedCommApi& comm,
                   const std::string& port)
      : m_sim(state, faults, 0x0A), m_comm(comm), m_strPort(port) {
    comm.m_fnOnWrite = [this, other = comm.m_fnOnWrite](CScriptedCommApi::CSession& session,
                                                        BYTE b) {
      if (session.m_strPort != m_strPort) {
        if (other) other(session, b);
      } else if (!m_bGone && Hears(session)) {
        OnByte(session, b);
      }
    };
  }
  CSimulatedModule(const CSimulatedModule&) = delete;
  CSimulatedModule& operator=(const CSimulatedModule&) = delete;

  CModuleSim m_sim;
  // Letters of the framed commands it received, in order.
  std::string m_strCommands;

 private:
  bool Hears(const CScriptedCommApi::CSession& session) {
    const std::vector<CPortScript>& openings = m_comm.FindPort(m_strPort)->m_openings;
    bool anyByModule = false;
    for (const CPortScript& opening : openings) anyByModule = anyByModule || opening.m_bByModule;
    return !anyByModule || session.m_script.m_bByModule;
  }

  void OnByte(CScriptedCommApi::CSession& session, BYTE b) {
    CAnswer answer;
    if (!m_sim.OnByte(b, answer, static_cast<long long>(m_comm.Clock().m_nNowMs))) return;
    int number = 0;
    char letter = 0;
    if (std::sscanf(answer.m_strNote.c_str(), "command %d %c", &number, &letter) == 2) {
      m_strCommands += letter;
    }
    auto& items = session.m_script.m_items;
    if (!answer.m_bytes.empty() && answer.m_nDelayMs >= static_cast<int>(session.ReadTimeout())) {
      items.push_back({CPortScript::EKind::Gap, 0});
    }
    for (BYTE out : answer.m_bytes) items.push_back({CPortScript::EKind::Byte, out});
    if (answer.m_bHangUp) {
      m_bGone = true;
      items.push_back({CPortScript::EKind::LineError, 0});
      m_comm.FindPort(m_strPort)->m_dwOpenError = ERROR_FILE_NOT_FOUND;
    }
  }

  CScriptedCommApi& m_comm;
  std::string m_strPort;
  bool m_bGone = false;
};
