// A module that answers what it is sent, for tests where the reply must depend on the bytes
// that actually reached it (failed writes, values changed between tries, round trips).
// Attach it to a CScriptedCommApi: it watches every byte written to the named port and
// queues its answer on the opening that received the command.
#pragma once

#include <string>
#include <vector>

#include "fakes/ScriptedCommApi.h"
#include "fakes/SetupRig.h"

class CReactiveModule {
public:
  void Attach(CScriptedCommApi& comm, const std::string& portName) {
    m_strPort = portName;
    comm.m_fnOnWrite = [this](CScriptedCommApi::CSession& session, BYTE b) {
      if (session.m_strPort == m_strPort) OnByte(session, b);
    };
  }

  CModuleSettings m_settings;
  bool m_bTurnedOff = false;
  // Command letters received in whole frames, in order.
  std::string m_strCommands;
  // Whole frames received before the module stops answering (negative: never stops).
  int m_nAnswerLimit = -1;

private:
  void OnByte(CScriptedCommApi::CSession& session, BYTE b) {
    // A frame cut short by a failed write is given up when the next frame starts; only the
    // peer address may carry 0xE4 inside its frame.
    if (b == 0xE4 && m_pending.size() > 1 && m_pending[1] != 'E') m_pending.clear();
    m_pending.push_back(b);
    if (m_pending.size() == 2 && m_pending[0] == 0x20 && m_pending[1] == 0x30) {
      m_pending.clear();
      Queue(session, CPortScript().Ack());
      return;
    }
    if (m_pending[0] != 0xE4 && m_pending[0] != 0x20) {
      m_pending.clear();
      return;
    }
    if (b != 0x0D || m_pending.size() < 4 || m_pending[0] != 0xE4) return;
    const BYTE command = m_pending[1];
    // The peer address is raw and may hold 0x0D itself: its frame has a fixed length.
    if (command == 'E' && m_pending.size() < 10) return;
    std::vector<BYTE> payload(m_pending.begin() + 3, m_pending.end() - 1);
    m_pending.clear();
    m_strCommands += static_cast<char>(command);
    if (m_nAnswerLimit >= 0 && static_cast<int>(m_strCommands.size()) > m_nAnswerLimit) return;
    Queue(session, Answer(command, payload));
  }

  CPortScript Answer(BYTE command, const std::vector<BYTE>& payload) {
    CPortScript script;
    const std::string text(payload.begin(), payload.end());
    switch (command) {
      case 'G': return script.Reply(0xF2, m_settings.m_peerAddr);
      case 'L': return script.Reply(0xF4, m_settings.m_deviceAddr);
      case 'A': return script.ReplyText(0xF1, m_settings.m_strName);
      case 'H': return script.ReplyText(0xF3, m_settings.m_strPin);
      case 'T': return script.Reply(0xF5, std::vector<BYTE>{m_settings.m_nRole});
      case 'N': m_settings.m_strName = text; break;
      case 'I': m_settings.m_strPin = text; break;
      case 'M': m_settings.m_nRole = 'M'; break;
      case 'S': m_settings.m_nRole = 'S'; break;
      case 'E': m_settings.m_peerAddr = payload; break;
      case 'F': m_bTurnedOff = true; break;
      case 'O': break;
      default: return script;
    }
    return script.Ack();
  }

  static void Queue(CScriptedCommApi::CSession& session, const CPortScript& script) {
    for (const CPortScript::CItem& item : script.m_items) session.m_script.m_items.push_back(item);
  }

  std::string m_strPort;
  std::vector<BYTE> m_pending;
};
