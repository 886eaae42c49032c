// libFuzzer target: arbitrary device behaviour against the exchanges and against whole Read
// and Program operations, through the scripted multi-port fake and the recording view.
//
// The input is decoded into one scenario (see Decode below): which call to make, the view's
// texts and checks, the machine's ports and how each refuses to open, and for every opening
// of a port the bytes the device sends, the reads that wait out their time-out, the line
// errors and the writes that fail. Nothing really waits: the fake clock only adds up.
//
// Besides what AddressSanitizer and UndefinedBehaviorSanitizer catch, every run checks the
// endings that must hold whatever the device does: each opening closed exactly once, nothing
// read from or written to a closed handle, the bar at 0, every button enabled, the retry
// counter at 0, the busy cursor gone, at most one message and only one of the two texts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fakes/FakeClock.h"
#include "fakes/FakeSetupView.h"
#include "fakes/ScriptedCommApi.h"
#include "protocol/SetupOperations.h"
#include "res/resource.h"
#include "tests/common/MessageTexts.h"

namespace {

// Escape byte of the device script: ESC k is a gap, a line error, the start of the next
// opening's script, a failing write, or a literal ESC.
constexpr BYTE kEsc = 0xFE;

class CInput {
 public:
  CInput(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}
  bool Empty() const { return m_nPos >= m_nSize; }
  BYTE Next() { return Empty() ? 0 : m_pData[m_nPos++]; }
  std::string Text(size_t maxLength) {
    const size_t length = Next() % (maxLength + 1);
    std::string text;
    for (size_t i = 0; i < length && !Empty(); ++i) text.push_back(static_cast<char>(Next()));
    return text;
  }

 private:
  const uint8_t* m_pData;
  size_t m_nSize;
  size_t m_nPos = 0;
};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

enum EMode { Probe, Ack, Query, Channel, Read, Program, ModeCount };

// Fills the ports' opening scripts from the rest of the input.
void DecodeScripts(CInput& in, CScriptedCommApi& comm) {
  if (comm.m_ports.empty()) return;
  size_t portIndex = 0;
  CPortScript script;
  auto flush = [&] {
    comm.m_ports[portIndex].m_openings.push_back(script);
    script = CPortScript();
  };
  while (!in.Empty()) {
    const BYTE b = in.Next();
    if (b != kEsc) {
      script.Bytes({b});
      continue;
    }
    const BYTE k = in.Next();
    switch (k % 5) {
      case 0:
        script.Gap(1 + k / 5 % 3);
        break;
      case 1:
        script.LineError();
        break;
      case 2:
        flush();
        portIndex = in.Next() % comm.m_ports.size();
        break;
      case 3:
        script.FailWrite(in.Next() % 32);
        break;
      default:
        script.Bytes({kEsc});
        break;
    }
  }
  flush();
}

// stepsBefore: the bar's steps before this press; a press steps at most once in the first
// run (handshake failed) and seven times in the rerun.
void CheckEnding(const CScriptedCommApi& comm, const CFakeSetupView& view,
                 const CSetupOperations& ops, int stepsBefore) {
  const std::string problems = comm.ClosingProblems();
  if (!problems.empty()) {
    std::fprintf(stderr, "%s\n", problems.c_str());
    Fail("port handling");
  }
  Check(!comm.AnyOpen(), "a port left open");
  Check(view.m_nProgress == 0, "progress bar not back at 0");
  Check(view.IsEnabled(IDC_READ) && view.IsEnabled(IDC_PROGRAM) && view.IsEnabled(IDCANCEL),
        "a button left disabled");
  Check(ops.m_nRetry == 0, "retry counter not back at 0");
  Check(view.m_nWaitDepth == 0, "busy cursor left on");
  Check(view.m_messages.size() <= 1, "more than one message for one press");
  for (const std::string& text : view.m_messages) {
    Check(text == kCannotConnect || text == kCommError, "unknown message text");
  }
  Check(view.m_nSteps - stepsBefore <= 1 + CFakeSetupView::kProgressMax,
        "too many progress steps for one press");
  // The outcome tells what the dialog showed.
  const EResult result = ops.Outcome().m_eResult;
  const std::string shown = view.m_messages.empty() ? "" : view.m_messages.front();
  Check((result == EResult::Ok) == shown.empty(), "outcome Ok does not match the messages");
  Check((result == EResult::NoModule) == (shown == kCannotConnect), "outcome NoModule mismatch");
  Check((result == EResult::CommError) == (shown == kCommError), "outcome CommError mismatch");
}

void RunExchange(EMode mode, EPace pace, CInput& in, CScriptedCommApi& comm, CSerialPort& serial,
                 CFakeClock& clock) {
  CCommandExchange exchange(serial, clock.Sleeper());
  exchange.SetPace(pace);
  const BYTE command = in.Next();
  const CCommandTiming timing{1 + in.Next() % 3, static_cast<DWORD>(in.Next() % 3 * 50),
                              static_cast<DWORD>(in.Next() % 3 * 10)};
  const BYTE payloadKind = in.Next() % 3;
  const std::string text = in.Text(24);
  const BYTE tag = in.Next();
  const BYTE limit = in.Next();
  comm.AddPort("COM1");
  DecodeScripts(in, comm);

  if (!serial.Open("COM1", LINE_BAUD,
                   mode == Probe ? READ_TIMEOUT_PROBE_MS : READ_TIMEOUT_OPERATION_MS)) {
    Fail("the only port did not open");
  }
  switch (mode) {
    case Probe:
      if (exchange.ExchangeProbe()) Check(exchange.m_ackBuf[0] == ACK, "probe passed without ACK");
      break;
    case Ack: {
      CFrame frame = payloadKind == 0 ? CFrame::Plain(command)
                     : payloadKind == 1
                         ? CFrame::Text(command, text)
                         : CFrame::Raw(command, std::vector<BYTE>(text.begin(), text.end()));
      if (exchange.ExchangeAck(frame, timing)) {
        Check(exchange.m_ackBuf[0] == ACK, "acknowledged without ACK");
      }
      break;
    }
    case Query: {
      int nConsumed = 0;
      const bool bOk = exchange.ExchangeQuery(command, tag, timing, [&](const BYTE* payload) {
        ++nConsumed;
        // Touch every byte the contract promises, so a short buffer shows up under ASan.
        volatile BYTE sink = 0;
        for (int i = 0; i < REPLY_PAYLOAD_MAX; ++i) sink = static_cast<BYTE>(sink ^ payload[i]);
        Check(payload[REPLY_PAYLOAD_MAX] == 0, "payload not NUL-terminated");
      });
      Check(nConsumed == (bOk ? 1 : 0), "consumer called on a failed query or more than once");
      break;
    }
    default: {
      // The channel's own readers, with a limit anywhere in 0..255 and a buffer of exactly
      // limit + 1 bytes, so a write past it is caught.
      std::vector<BYTE> buffer(static_cast<size_t>(limit) + 1, 0xAA);
      if (tag & 1) {
        serial.ReadLine(buffer.data(), limit);
      } else {
        serial.ReadBytes(buffer.data(), limit);
      }
      break;
    }
  }
  serial.Close();
  const std::string problems = comm.ClosingProblems();
  if (!problems.empty()) {
    std::fprintf(stderr, "%s\n", problems.c_str());
    Fail("port handling");
  }
}

void RunOperation(EMode mode, BYTE flags, CInput& in, CScriptedCommApi& comm, CSerialPort& serial,
                  CFakeClock& clock) {
  CFakeSetupView view;
  CSetupOperations ops(serial, view, clock.Sleeper());
  view.m_checks[IDC_TURN_OFF] = (flags & 0x08) != 0;
  view.m_checks[IDC_MASTER] = (flags & 0x10) != 0;
  view.m_checks[IDC_SLAVE] = (flags & 0x10) == 0;
  view.m_texts[IDC_DEVICE_NAME] = in.Text(20);
  view.m_texts[IDC_PIN_CODE] = in.Text(10);
  for (int id = IDC_PEER_ADDR1; id <= IDC_PEER_ADDR6; ++id) view.m_texts[id] = in.Text(3);
  const auto textsBefore = view.m_texts;

  const int nPorts = flags >> 5;  // 0..7
  for (int i = 0; i < nPorts; ++i) {
    CScriptedCommApi::CPort& port = comm.AddPort("COM" + std::to_string(1 + in.Next() % 12));
    const BYTE portFlags = in.Next();
    port.m_bListed = (portFlags & 0x01) == 0;
    if (portFlags & 0x02) port.m_dwOpenError = ERROR_ACCESS_DENIED;
    port.m_bRejectSettings = (portFlags & 0x04) != 0;
    port.m_nOpensBeforeTaken = (portFlags >> 3) % 8 == 7 ? -1 : (portFlags >> 3) % 8;
  }
  comm.m_bListingFails = (flags & 0x80) && nPorts == 4;
  DecodeScripts(in, comm);

  if (mode == Read) {
    ops.OnRead();
  } else {
    ops.OnProgram();
    Check(view.m_texts == textsBefore, "Program changed a control's text");
  }
  CheckEnding(comm, view, ops, 0);

  // The same objects take a second press, at the fast pace: nothing of the first may leak
  // into it.
  view.m_messages.clear();
  const int stepsBefore = view.m_nSteps;
  ops.SetPace(EPace::Fast);
  if (mode == Read) {
    ops.OnProgram();
  } else {
    ops.OnRead();
  }
  CheckEnding(comm, view, ops, stepsBefore);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CInput in(data, size);
  const BYTE flags = in.Next();
  const EMode mode = static_cast<EMode>(flags % 8 % ModeCount);

  CFakeClock clock;
  CScriptedCommApi comm(clock);
  CSerialPort serial(comm);
  if (mode == Read || mode == Program) {
    RunOperation(mode, flags, in, comm, serial, clock);
  } else {
    // The two codes past the last mode run the first two exchanges at the fast pace.
    RunExchange(mode, flags % 8 >= ModeCount ? EPace::Fast : EPace::Standard, in, comm, serial,
                clock);
  }
  return 0;
}
