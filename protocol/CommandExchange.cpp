#include "protocol/CommandExchange.h"

#include <cstring>
#include <utility>

CFrame CFrame::Plain(BYTE command) {
  CFrame frame;
  frame.m_nCommand = command;
  return frame;
}

CFrame CFrame::Text(BYTE command, std::string text) {
  CFrame frame;
  frame.m_nCommand = command;
  frame.m_payload = EPayload::Text;
  frame.m_strText = std::move(text);
  return frame;
}

CFrame CFrame::Raw(BYTE command, std::vector<BYTE> bytes) {
  CFrame frame;
  frame.m_nCommand = command;
  frame.m_payload = EPayload::Raw;
  frame.m_rawBytes = std::move(bytes);
  return frame;
}

CCommandExchange::CCommandExchange(CSerialPort& serial, SleepFn sleep)
    : m_ackBuf{}, m_serial(serial), m_fnSleep(std::move(sleep)) {}

void CCommandExchange::Pause(DWORD ms) {
  if (ms > 0 && m_fnSleep) m_fnSleep(ms);
}

void CCommandExchange::SetPace(EPace pace) {
  m_ePace = pace;
  m_bFellBack = false;
}

void CCommandExchange::OnFailedTry(bool bRetryFollows) {
  if (m_ePace != EPace::Fast || m_bFellBack) return;
  m_bFellBack = true;
  if (!bRetryFollows) return;
  // A module that babbles without end fails anyway; stop reading after a few lines' worth.
  constexpr int kDrainMax = 4 * REPLY_LINE_MAX;
  BYTE b = 0;
  for (int n = 0; n < kDrainMax && m_serial.ReadByte(&b); ++n) {
  }
}

bool CCommandExchange::ReadAnswerByte() {
  // The channel reads one byte more after the answer; it waits out the time-out unless the
  // module sends something else at once, which is then lost.
  if (m_ePace == EPace::Standard || m_bFellBack) return m_serial.ReadBytes(m_ackBuf, 1);
  // Fast stops at the answer: a byte sent after it stays queued for the next read.
  BYTE b = 0;
  if (!m_serial.ReadByte(&b)) return false;
  m_ackBuf[0] = b;
  m_ackBuf[1] = 0;
  return true;
}

void CCommandExchange::SendFrame(const CFrame& frame) {
  m_serial.WriteByte(FRAME_START);
  m_serial.WriteByte(frame.m_nCommand);
  m_serial.WriteByte(FRAME_MARK);
  switch (frame.m_payload) {
    case CFrame::EPayload::Text:
      // WriteLine ends the text with the frame's CR; if a byte cannot be written it stops
      // there without the CR, and the module simply does not answer.
      m_serial.WriteLine(frame.m_strText.c_str());
      break;
    case CFrame::EPayload::Raw:
      for (BYTE b : frame.m_rawBytes) m_serial.WriteByte(b);
      m_serial.WriteByte(FRAME_END);
      break;
    case CFrame::EPayload::None:
      m_serial.WriteByte(FRAME_END);
      break;
  }
}

bool CCommandExchange::ExchangeAck(const FrameSource& frame, const CCommandTiming& timing) {
  for (int nTry = 0; nTry < timing.m_nTries; ++nTry) {
    std::memset(m_ackBuf, 0, sizeof m_ackBuf);
    SendFrame(frame());
    Pause(timing.m_dwPauseBeforeRead);
    ReadAnswerByte();
    const bool bAcked = m_ackBuf[0] == ACK;
    Pause(timing.m_dwPauseAfterTry);
    if (bAcked) return true;
    OnFailedTry(nTry + 1 < timing.m_nTries);
  }
  return false;
}

bool CCommandExchange::ExchangeAck(const CFrame& frame, const CCommandTiming& timing) {
  return ExchangeAck([&frame] { return frame; }, timing);
}

bool CCommandExchange::ExchangeQuery(BYTE command, BYTE expectedTag, const CCommandTiming& timing,
                                     const ReplyConsumer& consumer) {
  const CFrame frame = CFrame::Plain(command);
  for (int nTry = 0; nTry < timing.m_nTries; ++nTry) {
    // One byte beyond the line's limit for the channel's NUL. Cleared on every try so that a
    // reply cut short reads as zeros rather than as the previous try's bytes.
    BYTE line[REPLY_LINE_MAX + 1];
    std::memset(line, 0, sizeof line);
    SendFrame(frame);
    // A lone CR leaves byte 0 at 0, which no tag equals.
    const bool bGood = ReadReplyLine(line, expectedTag) && line[0] == expectedTag;
    if (bGood) {
      if (consumer) consumer(line + 1);
      ReadAnswerByte();
    }
    Pause(timing.m_dwPauseAfterTry);
    if (bGood) return true;
    OnFailedTry(nTry + 1 < timing.m_nTries);
  }
  return false;
}

bool CCommandExchange::ReadReplyLine(BYTE* line, BYTE expectedTag) {
  BYTE count = 0;
  for (;;) {
    BYTE b = 0;
    // A line that stops before its end is cut short: what it holds so far is no value.
    if (!m_serial.ReadByte(&b)) return false;
    const bool bRaw = count > 0 && count <= ReplyRawBytes(expectedTag) && line[0] == expectedTag;
    if (b == FRAME_END && !bRaw) return true;
    // The byte after the last one kept is read and dropped; with a well-formed line it is the CR.
    if (count == REPLY_LINE_MAX) return true;
    line[count++] = b;
  }
}

bool CCommandExchange::ExchangeProbe() {
  std::memset(m_ackBuf, 0, sizeof m_ackBuf);
  m_serial.WriteByte(CMD_PROBE[0]);
  m_serial.WriteByte(CMD_PROBE[1]);
  return ReadAnswerByte() && m_ackBuf[0] == ACK;
}
