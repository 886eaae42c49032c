// The fault matrix: every command of Read and of Program crossed with every fault mode of the
// module simulator, each scenario with the ending worked out by hand from the protocol's
// rules (tries, what a read accepts, nothing flushed between tries, the two endings, the
// single rerun after a failed handshake). Two runners share it: one drives CModuleSim behind
// the scripted fake on the fake clock (fast, the whole cross product), one drives the real
// modsim on a pty through the POSIX layer in real time.
//
// The module starts as address 00:1A:7D:DA:71:13, peer 01:02:0A:0B:C0:FF, name CORVANE-BT,
// PIN 1234, slave; the Program dialog holds "Field unit",
// "87654321", Master, and the peer boxes A5 0D e4 06 1G 7f (A5 0D E4 06 00 7F on the wire).
// IDC_TURN_OFF is checked in every scenario, so CMD_TURN_OFF is a command of both operations.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fakes/FakeSetupView.h"
#include "protocol/SetupOperations.h"
#include "res/resource.h"
#include "tests/common/MessageTexts.h"
#include "tools/modsim/ModuleSim.h"

namespace faults {

enum class EOp { Read, Program };

enum class EFault {
  None,
  NoOpen,         // --no-open (hits CMD_OPEN only)
  Stop,           // the module stops answering at the command (--silent for the probe)
  Vanish,         // the device goes away right before the command
  WrongAck,       // --wrong-ack 15 on every answer of the command
  WrongAckOnce,   // the same, first answer only
  WrongTag,       // --wrong-tag F9 on every reply of the command
  WrongTagOnce,   // the same, first reply only
  Cut,            // --cut 3
  Overlong,       // --overlong 2: longer, still within the host's 20 bytes
  Overflow,       // --overlong 16: beyond the host's 20 bytes
  CrInAddress,    // --cr-in-address
  ExtraAfterAck,  // --extra-after-ack 0D
  Delay,          // --delay 300: in time for a command, too late for the probe
};

inline const char* FaultName(EFault fault) {
  switch (fault) {
    case EFault::None:
      return "none";
    case EFault::NoOpen:
      return "no-open";
    case EFault::Stop:
      return "stop";
    case EFault::Vanish:
      return "vanish";
    case EFault::WrongAck:
      return "wrong-ack";
    case EFault::WrongAckOnce:
      return "wrong-ack-once";
    case EFault::WrongTag:
      return "wrong-tag";
    case EFault::WrongTagOnce:
      return "wrong-tag-once";
    case EFault::Cut:
      return "cut";
    case EFault::Overlong:
      return "overlong";
    case EFault::Overflow:
      return "overflow";
    case EFault::CrInAddress:
      return "cr-in-address";
    case EFault::ExtraAfterAck:
      return "extra-after-ack";
    case EFault::Delay:
      return "delay";
  }
  return "?";
}

// '0' is the probe, 'O' CMD_OPEN, then the operation's own commands in order.
inline std::string Commands(EOp op) {
  return op == EOp::Read ? "0OGLAHTF" : "0ONIMEF";
}

inline bool IsQuery(char c) {
  return c == 'G' || c == 'L' || c == 'A' || c == 'H' || c == 'T';
}
inline int Tries(char c) {
  return c == '0' ? 1 : (c == 'O' || c == 'F') ? 2 : 3;
}

struct CScenario {
  EOp m_op = EOp::Read;
  char m_cTarget = '0';
  EFault m_fault = EFault::None;

  std::string Name() const {
    return std::string(m_op == EOp::Read ? "Read" : "Program") + "/" + FaultName(m_fault) + "@" +
           (m_cTarget == '0' ? std::string("probe") : std::string(1, m_cTarget));
  }
};

// What a scenario ends with, as far as the user, the port and the module can tell.
struct CEnding {
  std::vector<std::string> m_messages;
  // At each message: port open, bar position, the operation's two locked buttons disabled.
  std::vector<std::string> m_moments;
  std::map<int, std::string> m_texts;
  std::map<int, bool> m_checks;
  int m_nProgress = 0;
  bool m_bButtonsEnabled = true;
  int m_nRetry = 0;
  int m_nWaitDepth = 0;
  std::string m_strPortProblems;  // empty: every opening closed exactly once, no misuse
  std::string m_strCommands;      // letters of the framed commands the module received
  std::map<std::string, std::string> m_module;  // name, pin, role, peer, radio, probes, opens
  std::string m_strLog;  // the device's side of the story, for a failure message; not compared
};

inline std::string Moment(bool bPortOpen, int nProgress, bool bLocked) {
  return std::string(bPortOpen ? "port open" : "port closed") + ", bar " +
         std::to_string(nProgress) + (bLocked ? ", locked" : ", unlocked");
}

// The whole cross product, minus the pairs a fault cannot express: the device cannot vanish
// before the probe or CMD_OPEN (modsim hangs up only after answering a command).
// Presses the scenario's button and records what both runners judge the ending on: the
// state at each message and the dialog and operation state afterwards. The port's own
// account (closings, commands received, module state) is the runner's to add.
inline CEnding Press(const CScenario& s, CSetupOperations& ops, CFakeSetupView& view,
                     const std::function<bool()>& anyPortOpen) {
  CEnding got;
  const int lockedId = s.m_op == EOp::Read ? IDC_PROGRAM : IDC_READ;
  view.m_fnOnMessage = [&](const char*) {
    got.m_moments.push_back(Moment(anyPortOpen(), view.m_nProgress,
                                   !view.IsEnabled(lockedId) && !view.IsEnabled(IDCANCEL)));
  };
  if (s.m_op == EOp::Read) {
    ops.OnRead();
  } else {
    ops.OnProgram();
  }
  view.m_fnOnMessage = nullptr;
  got.m_messages = view.m_messages;
  got.m_texts = view.m_texts;
  got.m_checks = view.m_checks;
  got.m_nProgress = view.m_nProgress;
  got.m_bButtonsEnabled =
      view.IsEnabled(IDC_READ) && view.IsEnabled(IDC_PROGRAM) && view.IsEnabled(IDCANCEL);
  got.m_nRetry = ops.m_nRetry;
  got.m_nWaitDepth = view.m_nWaitDepth;
  return got;
}

inline std::vector<CScenario> AllScenarios() {
  std::vector<CScenario> all;
  for (EOp op : {EOp::Read, EOp::Program}) {
    all.push_back({op, '0', EFault::None});
    all.push_back({op, 'O', EFault::NoOpen});
    for (char c : Commands(op)) {
      for (EFault fault :
           {EFault::Stop, EFault::Vanish, EFault::WrongAck, EFault::WrongAckOnce, EFault::WrongTag,
            EFault::WrongTagOnce, EFault::Cut, EFault::Overlong, EFault::Overflow,
            EFault::CrInAddress, EFault::ExtraAfterAck, EFault::Delay}) {
        if (fault == EFault::Vanish && (c == '0' || c == 'O')) continue;
        all.push_back({op, c, fault});
      }
    }
  }
  return all;
}

// Number of framed commands before the target in a run where everything before it went well.
inline int CommandsBefore(const CScenario& s) {
  return static_cast<int>(Commands(s.m_op).find(s.m_cTarget)) - 1;
}

// The module's settings and faults for a scenario, as modsim's command line and as the
// simulator core's structures; both are built here so that the two runners agree.
struct CModuleSetup {
  std::vector<std::string> m_args;
  CModuleState m_state;
  CFaults m_faults;
};

inline CModuleSetup Setup(const CScenario& s) {
  CModuleSetup setup;
  std::vector<std::string>& a = setup.m_args;
  CFaults& f = setup.m_faults;
  a = {"--address", "00:1A:7D:DA:71:13",
       "--peer",    "01:02:0A:0B:C0:FF",
       "--name",    "CORVANE-BT",
       "--pin",     "1234",
       "--role",    "slave"};
  const uint8_t peer[6] = {0x01, 0x02, 0x0A, 0x0B, 0xC0, 0xFF};
  for (int i = 0; i < 6; ++i) setup.m_state.m_abPeer[i] = peer[i];

  auto only = [&] {
    a.insert(a.end(), {"--only", std::string(1, s.m_cTarget)});
    f.m_strOnly = std::string(1, s.m_cTarget);
  };
  auto once = [&] {
    a.insert(a.end(), {"--times", "1"});
    f.m_nTimes = 1;
  };
  switch (s.m_fault) {
    case EFault::None:
      break;
    case EFault::NoOpen:
      a.push_back("--no-open");
      f.m_bNoOpen = true;
      break;
    case EFault::Stop:
      if (s.m_cTarget == '0') {
        a.push_back("--silent");
        f.m_bSilent = true;
      } else {
        a.insert(a.end(), {"--stop-after", std::to_string(CommandsBefore(s))});
        f.m_nStopAfter = CommandsBefore(s);
      }
      break;
    case EFault::Vanish:
      a.insert(a.end(), {"--vanish-after", std::to_string(CommandsBefore(s))});
      f.m_nVanishAfter = CommandsBefore(s);
      break;
    case EFault::WrongAckOnce:
      once();
      [[fallthrough]];
    case EFault::WrongAck:
      a.insert(a.end(), {"--wrong-ack", "15"});
      f.m_nWrongAck = 0x15;
      only();
      break;
    case EFault::WrongTagOnce:
      once();
      [[fallthrough]];
    case EFault::WrongTag:
      a.insert(a.end(), {"--wrong-tag", "F9"});
      f.m_nWrongTag = 0xF9;
      only();
      break;
    case EFault::Cut:
      a.insert(a.end(), {"--cut", "3"});
      f.m_nCutAfter = 3;
      only();
      break;
    case EFault::Overlong:
      a.insert(a.end(), {"--overlong", "2"});
      f.m_nOverlong = 2;
      only();
      break;
    case EFault::Overflow:
      a.insert(a.end(), {"--overlong", "16"});
      f.m_nOverlong = 16;
      only();
      break;
    case EFault::CrInAddress:
      a.push_back("--cr-in-address");
      f.m_bCrInAddress = true;
      only();
      break;
    case EFault::ExtraAfterAck:
      a.insert(a.end(), {"--extra-after-ack", "0D"});
      f.m_nExtraAfterAck = 0x0D;
      only();
      break;
    case EFault::Delay:
      a.insert(a.end(), {"--delay", "300"});
      f.m_nDelayMs = 300;
      only();
      break;
  }
  return setup;
}

// The dialog before the press: sentinels in every box a Read may fill, so a write that should
// not happen shows; the Program values; the turn-off option checked.
inline void PrepareView(EOp op, std::map<int, std::string>& texts, std::map<int, bool>& checks) {
  texts.clear();
  checks.clear();
  if (op == EOp::Read) {
    for (int id = IDC_PEER_ADDR1; id <= IDC_PEER_ADDR6; ++id) texts[id] = "??";
    texts[IDC_DEVICE_ADDRESS] = "unknown";
    texts[IDC_DEVICE_NAME] = "old name";
    texts[IDC_PIN_CODE] = "old pin";
    checks[IDC_MASTER] = false;
    checks[IDC_SLAVE] = false;
  } else {
    const char* peer[6] = {"A5", "0D", "e4", "06", "1G", "7f"};
    for (int i = 0; i < 6; ++i) texts[IDC_PEER_ADDR1 + i] = peer[i];
    texts[IDC_DEVICE_NAME] = "Field unit";
    texts[IDC_PIN_CODE] = "87654321";
    checks[IDC_MASTER] = true;
    checks[IDC_SLAVE] = false;
  }
  checks[IDC_TURN_OFF] = true;
}

// How the targeted fault treats its command, worked out from what the module then sends and
// what the host's reads accept.
struct CEffect {
  bool m_bFails = false;         // every try fails
  bool m_bStored = false;        // a failing setting command was stored all the same
  int m_nTriesUsed = 1;          // tries sent when it succeeds
  bool m_bBreaksNext = false;    // leftover bytes make every try of the next command fail
  bool m_bSilencesRest = false;  // nothing at all is answered from here on (stop)
  bool m_bDeviceGone = false;    // nothing can be sent from here on (vanish)
  std::string m_strValue;        // for a query: what it shows ("" = the module's value)
};

inline CEffect EffectOn(const CScenario& s, char c) {
  CEffect e;
  if (c != s.m_cTarget && !(s.m_fault == EFault::NoOpen && c == 'O')) return e;
  const bool ack = !IsQuery(c);
  switch (s.m_fault) {
    case EFault::None:
      break;
    case EFault::NoOpen:
      e.m_bFails = true;
      break;
    case EFault::Stop:
      e.m_bFails = true;
      e.m_bSilencesRest = true;
      break;
    case EFault::Vanish:
      e.m_bFails = true;
      e.m_bDeviceGone = true;
      break;
    case EFault::WrongAck:
      // The module stores a setting before it answers, so a wrong answer still stores it.
      if (ack) e.m_bFails = e.m_bStored = true;
      break;
    case EFault::WrongAckOnce:
      if (ack) {
        if (Tries(c) > 1) {
          e.m_nTriesUsed = 2;
        } else {
          e.m_bFails = true;
        }
      }
      break;
    case EFault::WrongTag:
    case EFault::WrongTagOnce:
      // The line with the wrong tag is read up to its CR and its trailing byte stays queued,
      // so every later try reads that byte as its tag: once is as bad as always.
      if (!ack) e.m_bFails = true;
      break;
    case EFault::Cut:
      // A line that stops without its CR is no value: every try of the query fails.
      if (!ack) e.m_bFails = true;
      break;
    case EFault::Overlong:
      if (c == 'A') e.m_strValue = "CORVANE-BT01";
      if (c == 'H') e.m_strValue = "123401";
      break;
    case EFault::Overflow:
      // 20 bytes are kept, the 21st dropped, the trailing read takes two more. What is left
      // (the rest of the payload, CR, trailer) is read by the next command as its reply.
      // The PIN line is exactly one byte too long: CR and trailer are taken, nothing is left.
      if (c == 'G' || c == 'L') e.m_bBreaksNext = true;
      if (c == 'A') {
        e.m_strValue = "CORVANE-BT012345678";
        e.m_bBreaksNext = true;
      }
      if (c == 'H') e.m_strValue = "1234012345678901234";
      break;
    case EFault::CrInAddress:
      // An address reply has a fixed length: its 0x0D is the third byte, not the line's end.
      if (c == 'G') e.m_strValue = "01 02 0D 0B C0 FF";
      if (c == 'L') e.m_strValue = "00 : 1A : 0D : DA : 71 : 13";
      break;
    case EFault::ExtraAfterAck:
      break;
    case EFault::Delay:
      // 300 ms is within the 1000 ms of an operation's read but not the 100 ms of a probe.
      if (c == '0') e.m_bFails = true;
      break;
  }
  return e;
}

// The ending the rules prescribe for a scenario.
inline CEnding Expected(const CScenario& s) {
  CEnding x;
  std::map<int, std::string> texts;
  std::map<int, bool> checks;
  PrepareView(s.m_op, texts, checks);
  x.m_texts = texts;
  x.m_checks = checks;
  std::map<std::string, std::string>& m = x.m_module;
  m["name"] = "CORVANE-BT";
  m["pin"] = "1234";
  m["role"] = "slave";
  m["peer"] = "01:02:0A:0B:C0:FF";
  m["radio"] = "on";
  int probes = 0;
  int opens = 0;
  const std::string commands = Commands(s.m_op);
  bool silenced = false;

  // A failed handshake reruns the whole operation once; the module's faults carry over.
  for (int run = 0; run < 2; ++run) {
    ++probes;
    if (silenced || EffectOn(s, '0').m_bFails) {
      x.m_messages.push_back(kCannotConnect);
      x.m_moments.push_back(Moment(false, 0, run == 1));
      break;
    }
    CEffect open = EffectOn(s, 'O');
    if (open.m_bFails) {
      x.m_strCommands += std::string(Tries('O'), 'O');
      opens += Tries('O');
      silenced = silenced || open.m_bSilencesRest;
      if (run == 1) {
        x.m_messages.push_back(kCommError);
        x.m_moments.push_back(Moment(false, 0, true));
      }
      continue;
    }
    x.m_strCommands += std::string(open.m_nTriesUsed, 'O');
    opens += open.m_nTriesUsed;

    bool broken = false;  // leftover bytes from the previous command
    bool gone = false;
    for (std::size_t i = 2; i < commands.size(); ++i) {
      const char c = commands[i];
      CEffect e = EffectOn(s, c);
      if (gone) e.m_bFails = true;
      if (broken) {
        e.m_bFails = true;
        broken = false;
      }
      // Once the device is gone nothing reaches it; a stopped module hears but ignores.
      if (e.m_bDeviceGone) gone = true;
      if (!gone) x.m_strCommands += std::string(e.m_bFails ? Tries(c) : e.m_nTriesUsed, c);
      const bool processed = !gone && !e.m_bSilencesRest && (!e.m_bFails || e.m_bStored);
      if (processed) {
        switch (c) {
          case 'N':
            m["name"] = "Field unit";
            break;
          case 'I':
            m["pin"] = "87654321";
            break;
          case 'M':
            m["role"] = "master";
            break;
          case 'E':
            m["peer"] = "A5:0D:E4:06:00:7F";
            break;
          case 'F':
            m["radio"] = "off";
            break;
          default:
            break;
        }
      }
      if (e.m_bFails && c == 'F') {
        x.m_messages.push_back(kCommError);
        x.m_moments.push_back(Moment(true, 7, true));
        break;
      }
      if (e.m_bFails) {
        x.m_messages.push_back(kCommError);
        x.m_moments.push_back(Moment(false, 0, true));
        break;
      }
      broken = e.m_bBreaksNext;
      const std::string& v = e.m_strValue;
      switch (c) {
        case 'G': {
          const std::string peer = v.empty() ? "01 02 0A 0B C0 FF" : v;
          for (int k = 0; k < 6; ++k) x.m_texts[IDC_PEER_ADDR1 + k] = peer.substr(3 * k, 2);
          break;
        }
        case 'L':
          x.m_texts[IDC_DEVICE_ADDRESS] = v.empty() ? "00 : 1A : 7D : DA : 71 : 13" : v;
          break;
        case 'A':
          x.m_texts[IDC_DEVICE_NAME] = v.empty() ? "CORVANE-BT" : v;
          break;
        case 'H':
          x.m_texts[IDC_PIN_CODE] = v.empty() ? "1234" : v;
          break;
        case 'T':
          x.m_checks[IDC_MASTER] = false;
          x.m_checks[IDC_SLAVE] = true;
          break;
        default:
          break;
      }
    }
    break;
  }
  m["probes"] = std::to_string(probes);
  m["opens"] = std::to_string(opens);
  m["malformed"] = "0";
  return x;
}

// Differences between what happened and what was prescribed, one per line; empty when none.
inline std::string Compare(const CEnding& want, const CEnding& got) {
  std::string diff;
  auto note = [&](const std::string& what, const std::string& w, const std::string& g) {
    if (w != g) diff += "  " + what + ": want [" + w + "] got [" + g + "]\n";
  };
  auto join = [](const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : " | ") + item;
    return text;
  };
  note("messages", join(want.m_messages), join(got.m_messages));
  note("at each message", join(want.m_moments), join(got.m_moments));
  for (const auto& [id, text] : want.m_texts) {
    auto it = got.m_texts.find(id);
    note("text of " + std::to_string(id), text, it == got.m_texts.end() ? "<none>" : it->second);
  }
  if (got.m_texts.size() != want.m_texts.size()) diff += "  controls written beyond the expected\n";
  for (const auto& [id, checked] : want.m_checks) {
    auto it = got.m_checks.find(id);
    note("check of " + std::to_string(id), checked ? "1" : "0",
         it == got.m_checks.end() ? "<none>" : (it->second ? "1" : "0"));
  }
  note("progress", "0", std::to_string(got.m_nProgress));
  note("buttons enabled", "1", got.m_bButtonsEnabled ? "1" : "0");
  note("retry counter", "0", std::to_string(got.m_nRetry));
  note("busy cursor depth", "0", std::to_string(got.m_nWaitDepth));
  note("port handling", "", got.m_strPortProblems);
  note("commands received", want.m_strCommands, got.m_strCommands);
  for (const auto& [key, value] : want.m_module) {
    auto it = got.m_module.find(key);
    note("module " + key, value, it == got.m_module.end() ? "<none>" : it->second);
  }
  return diff;
}

// key=value lines, as modsim writes its state file and as FormatState gives it.
inline std::map<std::string, std::string> ParseState(const std::string& text) {
  std::map<std::string, std::string> values;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return values;
}

}  // namespace faults
