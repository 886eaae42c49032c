// CModuleSim: the Bluetooth serial module as a byte machine, without any I/O.
//
// It has its own framing and parsing, written from the module's command and reply tables and
// deliberately sharing nothing with protocol/, so that a host bug in framing or encoding shows
// up here as an unanswered or malformed command instead of being mirrored.
//
// Contract: OnByte takes the host's bytes one at a time, in order. When a byte completes a
// probe or a framed command, it returns true and fills the answer (possibly empty: a silent
// module, an unknown command, a malformed frame). The caller sends the answer after
// m_nDelayMs, hangs up when m_bHangUp is set and takes the module off the line when m_bRemove
// is set. Nothing here blocks or allocates per byte beyond the current frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the module remembers. Factory defaults are the default member values.
struct CModuleState {
  uint8_t m_abAddress[6] = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
  uint8_t m_abPeer[6] = {0x00, 0x12, 0x6F, 0x34, 0x56, 0x78};
  std::string m_strName = "CORVANE-BT";
  std::string m_strPin = "1234";
  bool m_bMaster = false;
  bool m_bRadioOn = true;

  // Counters for tests: what the host has sent so far over the module's whole life.
  int m_nProbes = 0;
  int m_nCommands = 0;   // framed commands, well-formed ones only, known or not
  int m_nOpens = 0;      // CMD_OPEN frames among them
  int m_nMalformed = 0;  // frames that broke the frame rules
  int m_nIgnored = 0;    // framed commands that came while the module was settling
  char m_cLastCommand = 0;
};

// Misbehaviour on request. Reply faults (wrong ack/tag, cut, over-long, CR in an address,
// extra byte after ACK, delay) hit only the commands whose letters are in m_strOnly (all
// framed commands when empty; the probe only when m_strOnly holds '0') and, when
// m_nTimes >= 0, only the first m_nTimes replies they hit.
struct CFaults {
  bool m_bSilent = false;       // hears everything, answers nothing
  bool m_bNoOpen = false;       // answers everything except CMD_OPEN
  int m_nStopAfter = -1;        // answers the first N framed commands, then nothing at all
  int m_nVanishAfter = -1;      // hangs up after answering framed command N
  int m_nRemoveAfter = -1;      // taken off the jig after answering framed command N
  int m_nSwapAfter = -1;        // swapped for another module after answering framed command N
  int m_nWrongAck = -1;         // this byte instead of ACK
  int m_nWrongTag = -1;         // this byte instead of the reply tag
  int m_nCutAfter = -1;         // reply line stops after this many payload bytes: no CR
  int m_nOverlong = 0;          // this many extra payload bytes before the CR
  bool m_bCrInAddress = false;  // third byte of both addresses sent as 0x0D
  int m_nExtraAfterAck = -1;    // this byte right after the ACK
  int m_nDelayMs = 0;           // wait before answering
  std::string m_strOnly;
  int m_nTimes = -1;
  // Setting commands with these letters are acknowledged but not stored: a module whose
  // memory did not take the write.
  std::string m_strNoStore;
  // After answering a setting command the module is busy storing it for this many ms:
  // framed commands that arrive meanwhile are ignored (not answered, not counted).
  int m_nSettleMs = 0;
};

struct CAnswer {
  std::vector<uint8_t> m_bytes;
  int m_nDelayMs = 0;
  bool m_bHangUp = false;
  bool m_bRemove = false;  // the module leaves the line once this answer has gone out
  bool m_bSwap = false;    // and another is put on in its place (--swap-after)
  std::string m_strNote;   // what was heard and what was done about it, for the transcript
};

class CModuleSim {
 public:
  static constexpr uint8_t FRAME_START = 0xE4;
  static constexpr uint8_t FRAME_MARK = 0xA1;
  static constexpr uint8_t FRAME_END = 0x0D;
  static constexpr uint8_t ACK = 0x06;
  static constexpr uint8_t PROBE_1 = 0x20;
  static constexpr uint8_t PROBE_2 = 0x30;
  static constexpr uint8_t RSP_NAME = 0xF1;
  static constexpr uint8_t RSP_PEER_ADDR = 0xF2;
  static constexpr uint8_t RSP_PIN = 0xF3;
  static constexpr uint8_t RSP_DEVICE_ADDR = 0xF4;
  static constexpr uint8_t RSP_ROLE = 0xF5;
  // Longest name or PIN the module stores; a longer payload breaks the frame.
  static constexpr size_t MAX_TEXT = 32;

  CModuleSim(const CModuleState& state, const CFaults& faults, uint8_t trailer);

  // Feeds one byte from the host, which arrived at nowMs (any steady clock in milliseconds;
  // only --settle looks at it). True when it completed a probe or a frame (or broke one):
  // answer then says what to send. False while a probe or frame is still incomplete.
  bool OnByte(uint8_t b, CAnswer& answer, long long nowMs = 0);

  const CModuleState& State() const { return m_state; }
  // True once since the last call when the state (settings or counters) changed.
  bool TakeStateChanged();

  static const char* CommandName(char letter);

 private:
  enum class EParse { Idle, ProbeSpace, Start, Command, Payload, PeerEnd };

  void Reset();
  void OnProbe(CAnswer& answer);
  void OnFrame(CAnswer& answer);
  // The command's answer; false for a command the module does not answer.
  bool Answer(char letter, const std::vector<uint8_t>& payload, CAnswer& answer);
  void ScheduleFaults(CAnswer& answer);
  void OnMalformed(const char* why, CAnswer& answer);
  bool FaultHits(char letter);
  void Acknowledge(char letter, CAnswer& answer);
  void ReplyLine(char letter, uint8_t tag, const std::vector<uint8_t>& payload, CAnswer& answer);

  CModuleState m_state;
  CFaults m_faults;
  uint8_t m_nTrailer;
  bool m_bChanged = true;
  bool m_bStopped = false;
  int m_nFaultHits = 0;
  long long m_nNowMs = 0;
  long long m_nSettledAtMs = 0;  // with m_nSettleMs: no command is taken before this

  EParse m_parse = EParse::Idle;
  char m_cCommand = 0;
  std::vector<uint8_t> m_payload;
};

// "00:1A:7D:DA:71:13", colons optional, either case. False on anything else.
bool ParseAddress(const std::string& text, uint8_t out[6]);
std::string FormatAddress(const uint8_t address[6]);
// Text with bytes outside printable ASCII and the backslash written as \xHH.
std::string EscapeText(const std::string& text);
// The state as key=value lines, one per setting and counter.
std::string FormatState(const CModuleState& state);
