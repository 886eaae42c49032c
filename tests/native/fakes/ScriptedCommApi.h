// A fake machine with several serial ports, each playing a scripted byte stream per opening.
//
// Ports are added in the order the machine lists them (QueryDosDeviceA on an NT system).
// Every successful CreateFileA of a port starts an opening (a CSession): the port's next
// CPortScript says what the reads of that opening get and which of its writes fail; an
// opening without a script is a silent device. A read takes the next scripted item: a byte,
// a gap (the read waits out the opening's read time-out on the fake clock and gets nothing),
// or a line error (this read and every later read and write of the opening fail, as with
// abort-on-error). A read past the end of the script is a gap.
//
// A scripted stream is delivered regardless of what was written; the transcript (m_written
// of each opening and the shared timeline) shows what the host sent before each read. A
// module that answers what it is sent is CSimulatedModule (modsim's core), which hooks
// m_fnOnWrite and queues its answers on the opening.
//
// Misuse by the code under test (closing a handle twice or one never opened, reading or
// writing a closed handle, a second open of a port already open) is recorded in m_errors,
// and the port stays exclusive like share mode 0.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "fakes/EventTimeline.h"
#include "fakes/FakeClock.h"
#include "serial/CommApi.h"

// "E4 4F A1 0D": bytes as the tables of the protocol write them.
inline std::string HexBytes(const std::vector<BYTE>& bytes) {
  std::string text;
  for (BYTE b : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", b);
    if (!text.empty()) text += ' ';
    text += hex;
  }
  return text;
}

// What one opening of a port does.
class CPortScript {
 public:
  enum class EKind { Byte, Gap, LineError };
  struct CItem {
    EKind m_kind;
    BYTE m_nValue;
  };

  CPortScript& Bytes(std::initializer_list<BYTE> bytes) {
    for (BYTE b : bytes) m_items.push_back({EKind::Byte, b});
    return *this;
  }
  CPortScript& Bytes(const std::vector<BYTE>& bytes) {
    for (BYTE b : bytes) m_items.push_back({EKind::Byte, b});
    return *this;
  }
  CPortScript& Text(const std::string& text) {
    for (char c : text) m_items.push_back({EKind::Byte, static_cast<BYTE>(c)});
    return *this;
  }
  // count reads that wait out the time-out.
  CPortScript& Gap(int count = 1) {
    for (int i = 0; i < count; ++i) m_items.push_back({EKind::Gap, 0});
    return *this;
  }
  CPortScript& LineError() {
    m_items.push_back({EKind::LineError, 0});
    return *this;
  }

  // What a well-behaved module sends, and then the silence until its next command.
  CPortScript& Ack() { return Bytes({0x06}).Gap(); }
  // A reply line: tag, payload, CR, the one byte the module sends after every line.
  CPortScript& Reply(BYTE tag, const std::vector<BYTE>& payload, BYTE trailing = 0x0A) {
    Bytes({tag}).Bytes(payload).Bytes({0x0D, trailing});
    return Gap();
  }
  CPortScript& ReplyText(BYTE tag, const std::string& text, BYTE trailing = 0x0A) {
    Bytes({tag}).Text(text).Bytes({0x0D, trailing});
    return Gap();
  }
  // A try the module does not answer.
  CPortScript& Silence(int tries = 1) { return Gap(tries); }

  // Write calls of this opening, counted from 0, that fail; with FailWritesFrom, that one and
  // all after it.
  CPortScript& FailWrite(std::size_t index) {
    m_failingWrites.insert(index);
    return *this;
  }
  CPortScript& FailWritesFrom(std::size_t index) {
    m_nFailWritesFrom = index;
    return *this;
  }

  // An opening played by the port's simulated module (see SimulatedModule.h), not by items.
  static CPortScript ByModule() {
    CPortScript script;
    script.m_bByModule = true;
    return script;
  }

  std::deque<CItem> m_items;
  bool m_bByModule = false;
  std::set<std::size_t> m_failingWrites;
  std::size_t m_nFailWritesFrom = static_cast<std::size_t>(-1);
};

class CScriptedCommApi : public CommApi {
 public:
  struct CPort {
    std::string m_strName;
    // Whether the machine's listing names it.
    bool m_bListed = true;
    // Scripts of its first, second, ... opening; openings past these are silent.
    std::vector<CPortScript> m_openings;
    // Successful opens before another program takes the port (negative: never taken).
    int m_nOpensBeforeTaken = -1;
    // When not 0, every open fails with this error.
    DWORD m_dwOpenError = 0;
    // The driver refuses to report its settings, so Open fails after CreateFileA.
    bool m_bRejectSettings = false;
    int m_nOpens = 0;
  };

  struct CSession {
    std::string m_strPort;
    // Which opening of its port this is, counted from 0.
    std::size_t m_nOpening = 0;
    HANDLE m_hHandle = nullptr;
    COMMTIMEOUTS m_timeouts{};
    DCB m_dcb{};
    CPortScript m_script;
    std::vector<BYTE> m_written;
    std::vector<BYTE> m_read;
    std::size_t m_nWriteCalls = 0;
    int m_nFailedWrites = 0;
    int m_nTimeouts = 0;
    int m_nCloses = 0;
    bool m_bLineError = false;

    bool IsOpen() const { return m_nCloses == 0; }
    DWORD ReadTimeout() const { return m_timeouts.ReadTotalTimeoutMultiplier; }
    std::string Written() const { return HexBytes(m_written); }
  };

  explicit CScriptedCommApi(CFakeClock& clock, CEventTimeline* timeline = nullptr)
      : m_clock(clock), m_pTimeline(timeline) {}

  CPort& AddPort(const std::string& name) {
    m_ports.push_back(CPort{});
    m_ports.back().m_strName = name;
    return m_ports.back();
  }
  CPort* FindPort(const std::string& name) {
    for (CPort& port : m_ports) {
      if (port.m_strName == name) return &port;
    }
    return nullptr;
  }

  // Openings of one port, in order.
  std::vector<const CSession*> SessionsOf(const std::string& name) const {
    std::vector<const CSession*> found;
    for (const CSession& session : m_sessions) {
      if (session.m_strPort == name) found.push_back(&session);
    }
    return found;
  }
  // Names of the ports opened, in the order of the openings.
  std::vector<std::string> OpenedPorts() const {
    std::vector<std::string> names;
    for (const CSession& session : m_sessions) names.push_back(session.m_strPort);
    return names;
  }
  bool AnyOpen() const {
    for (const CSession& session : m_sessions) {
      if (session.IsOpen()) return true;
    }
    return false;
  }
  // Empty when every opening was closed exactly once and nothing was misused; otherwise
  // what went wrong, for the test's failure message.
  std::string ClosingProblems() const {
    std::string problems;
    for (std::size_t i = 0; i < m_sessions.size(); ++i) {
      if (m_sessions[i].m_nCloses != 1) {
        problems += "opening " + std::to_string(i) + " of " + m_sessions[i].m_strPort + " closed " +
                    std::to_string(m_sessions[i].m_nCloses) + " times; ";
      }
    }
    for (const std::string& error : m_errors) problems += error + "; ";
    return problems;
  }

  HANDLE CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                     HANDLE) override {
    std::string name = fileName ? fileName : "";
    if (name.rfind("//./", 0) == 0 || name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    CPort* port = FindPort(name);
    DWORD error = ERROR_SUCCESS;
    if (port == nullptr) {
      error = ERROR_FILE_NOT_FOUND;
    } else if (port->m_dwOpenError != 0) {
      error = port->m_dwOpenError;
    } else if (IsPortOpen(name) ||
               (port->m_nOpensBeforeTaken >= 0 && port->m_nOpens >= port->m_nOpensBeforeTaken)) {
      error = ERROR_ACCESS_DENIED;
    }
    if (error != ERROR_SUCCESS) {
      m_dwLastError = error;
      Log("open-failed " + name);
      return INVALID_HANDLE_VALUE;
    }

    CSession session;
    session.m_strPort = name;
    session.m_nOpening = static_cast<std::size_t>(port->m_nOpens);
    session.m_hHandle =
        reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1000 + m_sessions.size()));
    if (static_cast<std::size_t>(port->m_nOpens) < port->m_openings.size()) {
      session.m_script = port->m_openings[port->m_nOpens];
    }
    session.m_dcb.DCBlength = sizeof(DCB);
    session.m_dcb.BaudRate = 115200;
    session.m_dcb.ByteSize = 7;
    ++port->m_nOpens;
    m_sessions.push_back(session);
    Log("open " + name);
    return session.m_hHandle;
  }

  BOOL CloseHandle(HANDLE handle) override {
    CSession* session = FindSession(handle);
    if (session == nullptr) {
      m_errors.push_back("CloseHandle of a handle never opened");
      return FALSE;
    }
    if (++session->m_nCloses > 1) m_errors.push_back("second CloseHandle of " + session->m_strPort);
    Log("close " + session->m_strPort);
    return TRUE;
  }

  BOOL GetCommState(HANDLE handle, LPDCB dcb) override {
    CSession* session = OpenSession(handle, "GetCommState");
    if (session == nullptr || RejectsSettings(*session)) return FALSE;
    *dcb = session->m_dcb;
    return TRUE;
  }
  BOOL SetCommState(HANDLE handle, LPDCB dcb) override {
    CSession* session = OpenSession(handle, "SetCommState");
    if (session == nullptr) return FALSE;
    session->m_dcb = *dcb;
    return TRUE;
  }
  BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override {
    CSession* session = OpenSession(handle, "GetCommTimeouts");
    if (session == nullptr) return FALSE;
    *timeouts = session->m_timeouts;
    return TRUE;
  }
  BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override {
    CSession* session = OpenSession(handle, "SetCommTimeouts");
    if (session == nullptr) return FALSE;
    session->m_timeouts = *timeouts;
    return TRUE;
  }

  BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) override {
    if (read) *read = 0;
    CSession* session = OpenSession(handle, "ReadFile");
    if (session == nullptr || session->m_bLineError) return FALSE;
    BYTE* out = static_cast<BYTE*>(buffer);
    DWORD count = 0;
    while (count < toRead) {
      if (session->m_script.m_items.empty() ||
          session->m_script.m_items.front().m_kind == CPortScript::EKind::Gap) {
        if (!session->m_script.m_items.empty()) session->m_script.m_items.pop_front();
        if (count == 0) {
          ++session->m_nTimeouts;
          m_clock.WaitOut(session->m_timeouts.ReadTotalTimeoutMultiplier * toRead +
                          session->m_timeouts.ReadTotalTimeoutConstant);
        }
        break;
      }
      const CPortScript::CItem item = session->m_script.m_items.front();
      session->m_script.m_items.pop_front();
      if (item.m_kind == CPortScript::EKind::LineError) {
        session->m_bLineError = true;
        Log("line-error " + session->m_strPort);
        if (read) *read = count;
        return FALSE;
      }
      out[count++] = item.m_nValue;
      session->m_read.push_back(item.m_nValue);
      Log("rx " + session->m_strPort + " " + HexBytes({item.m_nValue}));
    }
    if (read) *read = count;
    return TRUE;
  }

  BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                 LPOVERLAPPED) override {
    if (written) *written = 0;
    CSession* session = OpenSession(handle, "WriteFile");
    if (session == nullptr) return FALSE;
    const std::size_t index = session->m_nWriteCalls++;
    if (session->m_bLineError || session->m_script.m_failingWrites.count(index) != 0 ||
        index >= session->m_script.m_nFailWritesFrom) {
      ++session->m_nFailedWrites;
      Log("tx-failed " + session->m_strPort);
      return FALSE;
    }
    const BYTE* in = static_cast<const BYTE*>(buffer);
    for (DWORD i = 0; i < toWrite; ++i) {
      session->m_written.push_back(in[i]);
      Log("tx " + session->m_strPort + " " + HexBytes({in[i]}));
      if (m_fnOnWrite) m_fnOnWrite(*session, in[i]);
    }
    if (written) *written = toWrite;
    return TRUE;
  }

  BOOL GetVersionExA(LPOSVERSIONINFOA info) override {
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->dwMajorVersion = 5;
    return TRUE;
  }

  DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max) override {
    if (deviceName != nullptr || m_bListingFails) {
      m_dwLastError = ERROR_FILE_NOT_FOUND;
      return 0;
    }
    // Other devices come first on a real machine; only the COM names matter.
    std::string listing("PhysicalDrive0");
    listing.push_back('\0');
    for (const CPort& port : m_ports) {
      if (!port.m_bListed) continue;
      listing += port.m_strName;
      listing.push_back('\0');
    }
    listing.push_back('\0');
    if (listing.size() > max) {
      m_dwLastError = ERROR_INSUFFICIENT_BUFFER;
      return 0;
    }
    std::memcpy(targetPath, listing.data(), listing.size());
    return static_cast<DWORD>(listing.size());
  }

  DWORD GetLastError() override { return m_dwLastError; }

  // The clock the reads wait on, for a device that needs to know the time.
  const CFakeClock& Clock() const { return m_clock; }

  std::deque<CPort> m_ports;
  std::deque<CSession> m_sessions;
  std::vector<std::string> m_errors;
  bool m_bListingFails = false;
  // Sees every byte written; may add to session.m_script.m_items to answer it.
  std::function<void(CSession& session, BYTE b)> m_fnOnWrite;

 private:
  bool IsPortOpen(const std::string& name) const {
    for (const CSession& session : m_sessions) {
      if (session.m_strPort == name && session.IsOpen()) return true;
    }
    return false;
  }
  CSession* FindSession(HANDLE handle) {
    for (CSession& session : m_sessions) {
      if (session.m_hHandle == handle) return &session;
    }
    return nullptr;
  }
  CSession* OpenSession(HANDLE handle, const char* call) {
    CSession* session = FindSession(handle);
    if (session == nullptr || !session->IsOpen()) {
      m_errors.push_back(std::string(call) + " on a handle that is not open");
      return nullptr;
    }
    return session;
  }
  bool RejectsSettings(const CSession& session) {
    const CPort* port = FindPort(session.m_strPort);
    return port != nullptr && port->m_bRejectSettings;
  }
  void Log(const std::string& event) {
    if (m_pTimeline) m_pTimeline->Add(event);
  }

  CFakeClock& m_clock;
  CEventTimeline* m_pTimeline;
  DWORD m_dwLastError = ERROR_SUCCESS;
};
