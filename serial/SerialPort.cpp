#include "serial/SerialPort.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace {

// Bits of the DCB flag word that Open sets itself: parity check, both output flow controls,
// DTR control, DSR sensitivity, XON/XOFF both ways, NUL stripping, RTS control, abort on
// error. Everything else (fTXContinueOnXoff, fErrorChar and the reserved bits) keeps what the
// driver reported.
constexpr DWORD kKeptFlags = 0xFFFFC481u;
constexpr DWORD kBinaryAndAbortOnError = 0x4001u;

DWORD GetFlagWord(const DCB& dcb) {
  DWORD word;
  std::memcpy(&word, reinterpret_cast<const BYTE*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD),
              sizeof word);
  return word;
}

void SetFlagWord(DCB& dcb, DWORD word) {
  std::memcpy(reinterpret_cast<BYTE*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD), &word,
              sizeof word);
}

}  // namespace

CSerialPort::CSerialPort(CommApi& api) : m_bOpen(FALSE), m_api(api) {}

CSerialPort::~CSerialPort() = default;

bool CSerialPort::Open(const char* portName, DWORD baud, DWORD readTimeoutMs) {
  const std::string path = std::string("//./") + portName;
  m_hComm = m_api.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (m_hComm == INVALID_HANDLE_VALUE) return false;

  const bool ok =
      SetLine(baud, 8, false, NOPARITY, ONESTOPBIT) && SetTimeouts(0, readTimeoutMs, 0, 0, 0);
  if (!ok) {
    m_api.CloseHandle(m_hComm);
    return false;
  }
  m_bOpen = TRUE;
  return true;
}

void CSerialPort::Close() {
  m_api.CloseHandle(m_hComm);
  m_bOpen = FALSE;
}

bool CSerialPort::SetLine(DWORD baud, BYTE dataBits, bool parityCheck, BYTE parity, BYTE stopBits) {
  m_bLastResult = m_api.GetCommState(m_hComm, &m_dcb);
  if (!m_bLastResult) return false;

  m_dcb.BaudRate = baud;
  m_dcb.ByteSize = dataBits;
  m_dcb.Parity = parity;
  m_dcb.StopBits = stopBits;
  const DWORD parityBit = parityCheck ? 1u : 0u;
  SetFlagWord(m_dcb, (GetFlagWord(m_dcb) & kKeptFlags) | kBinaryAndAbortOnError | (parityBit << 1));

  m_bLastResult = m_api.SetCommState(m_hComm, &m_dcb);
  return m_bLastResult != FALSE;
}

bool CSerialPort::SetTimeouts(DWORD readInterval, DWORD readMultiplier, DWORD readConstant,
                              DWORD writeMultiplier, DWORD writeConstant) {
  m_bLastResult = m_api.GetCommTimeouts(m_hComm, &m_timeouts);
  if (!m_bLastResult) return false;

  m_timeouts.ReadIntervalTimeout = readInterval;
  m_timeouts.ReadTotalTimeoutMultiplier = readMultiplier;
  m_timeouts.ReadTotalTimeoutConstant = readConstant;
  m_timeouts.WriteTotalTimeoutMultiplier = writeMultiplier;
  m_timeouts.WriteTotalTimeoutConstant = writeConstant;

  m_bLastResult = m_api.SetCommTimeouts(m_hComm, &m_timeouts);
  return m_bLastResult != FALSE;
}

bool CSerialPort::WriteByte(BYTE b) {
  m_dwBytesWritten = 0;
  return m_api.WriteFile(m_hComm, &b, 1, &m_dwBytesWritten, nullptr) != FALSE;
}

bool CSerialPort::WriteLine(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (!WriteByte(static_cast<BYTE>(*p))) return false;
  }
  return WriteByte(0x0D);
}

bool CSerialPort::ReadByte(BYTE* place) {
  *place = 0;
  BYTE byte = 0;
  DWORD count = 0;
  if (!m_api.ReadFile(m_hComm, &byte, 1, &count, nullptr) || count != 1) return false;
  *place = byte;
  return true;
}

bool CSerialPort::ReadLine(BYTE* buffer, BYTE n) {
  return ReadRun(buffer, n, true);
}

bool CSerialPort::ReadBytes(BYTE* buffer, BYTE n) {
  return ReadRun(buffer, n, false);
}

bool CSerialPort::ReadRun(BYTE* buffer, BYTE n, bool stopAtCr) {
  BYTE last = 0;
  if (!ReadByte(&last)) return false;

  BYTE count = 0;
  for (;;) {
    if (stopAtCr && last == 0x0D) break;
    // At the limit one more byte has been read; it is dropped.
    if (count >= n) break;
    buffer[count++] = last;
    if (!ReadByte(&last)) break;
  }
  if (count > 0) buffer[count] = 0;
  return last != 0 || count > 0;
}
