// The command exchanges with the module over an open CSerialPort.
//
// Contract: every call blocks the caller's thread, in the serial reads (at most the port's
// read time-out per byte) and in the pauses, which go through the injected sleep. The port
// must already be open; nothing here opens or closes it. No exchange shows anything: the result is
// true or false and the caller decides. Nothing is flushed between tries: bytes left over from a
// wrong or over-long reply are the first bytes the next read sees.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "protocol/CommandSet.h"
#include "protocol/Sleep.h"
#include "serial/SerialPort.h"

// What one try of a command puts on the line.
class CFrame {
 public:
  enum class EPayload { None, Text, Raw };

  // E4 command A1 0D.
  static CFrame Plain(BYTE command);
  // E4 command A1, the text's bytes up to its first NUL, 0D (written as one line).
  static CFrame Text(BYTE command, std::string text);
  // E4 command A1, the bytes exactly as given (never escaped), 0D.
  static CFrame Raw(BYTE command, std::vector<BYTE> bytes);

  BYTE m_nCommand = 0;
  EPayload m_payload = EPayload::None;
  std::string m_strText;
  std::vector<BYTE> m_rawBytes;
};

// Builds the frame of one try; called again before every try, so a value the user can change
// (a box's text, a check box) is taken as it stands at that try.
using FrameSource = std::function<CFrame()>;

// Size of the payload handed to a reply consumer: the bytes after the tag, bytes that never
// arrived read as 0, and payload[REPLY_PAYLOAD_MAX] is always 0.
constexpr int REPLY_PAYLOAD_MAX = REPLY_LINE_MAX - 1;
using ReplyConsumer = std::function<void(const BYTE* payload)>;

// How long an exchange waits after the byte it needs.
//
// Standard (the default, and the only pace of the dialog): after an acknowledgement and after
// the trailing byte of a reply line the channel reads one byte more and waits out the read
// time-out for it, unless the module sends one.
// Fast: the same bytes, the same tries, every pause before reading and after each try, and the
// same read time-out for every byte the module does send; only that last wait goes: an
// acknowledgement ends when its byte has come, a reply when its trailing byte has come. The
// first failed try of an exchange in fast switches the exchanges to standard before the retry,
// and they stay standard until the pace is set again or the operation ends (a module that
// needed the longer gaps then gets everything standard would give it). At that switch, before
// the retry, the exchange reads whatever is still coming until one read time-out passes in
// silence: fast leaves queued the bytes standard's extra reads would have taken (a byte after
// an ACK, a reply to a try that timed out), and the retry must not take them for its answer.
// The probe follows the pace too, but its failure means "no module on this port" and never
// switches the pace.
enum class EPace { Standard, Fast };

class CCommandExchange {
 public:
  CCommandExchange(CSerialPort& serial, SleepFn sleep);

  CCommandExchange(const CCommandExchange&) = delete;
  CCommandExchange& operator=(const CCommandExchange&) = delete;

  // Writes one frame, byte by byte. Write failures are not reported: they show up as a
  // missing reply.
  void SendFrame(const CFrame& frame);

  // Sends the frame and waits for ACK, up to timing.m_nTries times. Each try: clear m_ackBuf,
  // send, pause before reading, read the answer byte (in standard, plus the one extra read that
  // the channel makes), pause after the try. True on the first try whose answer is ACK.
  bool ExchangeAck(const FrameSource& frame, const CCommandTiming& timing);
  bool ExchangeAck(const CFrame& frame, const CCommandTiming& timing);

  // Sends the plain command and reads one reply line, up to timing.m_nTries times. A try
  // succeeds when the line's byte 0 is expectedTag and the line came to its end: its CR, or
  // the byte after REPLY_LINE_MAX bytes (dropped). A line cut short by the read time-out is a
  // failed try, whatever it held. An address reply (ReplyRawBytes) takes its six bytes raw
  // before it looks for the CR. On success the consumer gets the payload (see
  // REPLY_PAYLOAD_MAX) before the trailing byte after the line is read into m_ackBuf.
  bool ExchangeQuery(BYTE command, BYTE expectedTag, const CCommandTiming& timing,
                     const ReplyConsumer& consumer);

  // One try of the unframed probe on a port opened at the probe's time-out: true when the
  // answer byte is ACK.
  bool ExchangeProbe();

  // The pace from now on; forgets an earlier fall-back.
  void SetPace(EPace pace);
  EPace Pace() const { return m_ePace; }
  // True once a failed try in fast has switched the exchanges to standard.
  bool FellBack() const { return m_bFellBack; }

  // Receives every acknowledgement and the byte read after every reply line.
  BYTE m_ackBuf[REPLY_LINE_MAX];

 protected:
  void Pause(DWORD ms);
  // Back to the pace that was set, for a new operation.
  void ForgetFallBack() { m_bFellBack = false; }

  CSerialPort& m_serial;
  SleepFn m_fnSleep;

 private:
  // Reads one reply line into line (REPLY_LINE_MAX + 1 bytes, cleared), one byte per read.
  // True when it came to its end; false when a byte it waited for did not come.
  bool ReadReplyLine(BYTE* line, BYTE expectedTag);
  // Reads the byte an exchange waits for into m_ackBuf[0], followed by a NUL; in standard
  // also the one byte more (dropped if it comes). False when no byte came; m_ackBuf is then
  // untouched.
  bool ReadAnswerByte();
  // A try has failed: in fast, the rest runs standard. When another try follows, the switch
  // first reads away what fast's shorter reads left on the line (see FallBack).
  void OnFailedTry(bool bRetryFollows);

  EPace m_ePace = EPace::Standard;
  bool m_bFellBack = false;
};
