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

class CCommandExchange {
 public:
  CCommandExchange(CSerialPort& serial, SleepFn sleep);

  CCommandExchange(const CCommandExchange&) = delete;
  CCommandExchange& operator=(const CCommandExchange&) = delete;

  // Writes one frame, byte by byte. Write failures are not reported: they show up as a
  // missing reply.
  void SendFrame(const CFrame& frame);

  // Sends the frame and waits for ACK, up to timing.m_nTries times. Each try: clear m_ackBuf,
  // send, pause before reading, read the answer byte (plus the one extra read that the channel
  // makes), pause after the try. True on the first try whose answer is ACK.
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

  // Receives every acknowledgement and the byte read after every reply line.
  BYTE m_ackBuf[REPLY_LINE_MAX];

 protected:
  void Pause(DWORD ms);

 private:
  // Reads one reply line into line (REPLY_LINE_MAX + 1 bytes, cleared), one byte per read.
  // True when it came to its end; false when a byte it waited for did not come.
  bool ReadReplyLine(BYTE* line, BYTE expectedTag);

 protected:
  CSerialPort& m_serial;
  SleepFn m_fnSleep;
};
