// CSerialPort: one serial port, opened by name for one probe or one operation.
//
// Contract: every call blocks the caller's thread and moves one byte per system call. A read
// waits at most the read time-out per byte given to Open. The destructor does not close the
// port: whoever called a successful Open calls Close before it returns. A failed Open leaves
// nothing to close.
#pragma once

#include <string>
#include <vector>

#include "serial/CommApi.h"

class CSerialPort {
 public:
  explicit CSerialPort(CommApi& api = PlatformCommApi());
  ~CSerialPort();

  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // Opens "//./<portName>" exclusively, 8N1 at baud, no flow control, DTR and RTS off, and a
  // read time-out of readTimeoutMs per byte. False when the port is absent, taken, or refuses
  // the settings or time-outs; the handle is then already closed.
  bool Open(const char* portName, DWORD baud, DWORD readTimeoutMs);
  // Closes the handle of the last successful Open.
  void Close();

  // True when the system write call succeeded; the count written is not examined.
  bool WriteByte(BYTE b);
  // Writes the text's bytes one by one, then CR. Stops at the first failed byte (no CR then).
  bool WriteLine(const char* text);

  // True when exactly one byte arrived within the time-out; *place holds it, 0 otherwise.
  bool ReadByte(BYTE* place);
  // Reads up to a CR (consumed, not stored) or n bytes plus one more that is dropped.
  // buffer needs room for n + 1 bytes. False only when nothing usable arrived; the buffer is
  // then untouched. A NUL follows the stored bytes when at least one was stored.
  bool ReadLine(BYTE* buffer, BYTE n);
  // As ReadLine, but a CR is stored like any other byte.
  bool ReadBytes(BYTE* buffer, BYTE n);

  // Steps of Open.
  bool SetLine(DWORD baud, BYTE dataBits, bool parityCheck, BYTE parity, BYTE stopBits);
  bool SetTimeouts(DWORD readInterval, DWORD readMultiplier, DWORD readConstant,
                   DWORD writeMultiplier, DWORD writeConstant);

  // Appends "COM%d" for each serial port of the machine, in the system's order, duplicates
  // kept. Touches neither this object's port nor its members.
  void ListPorts(std::vector<std::string>& list);

  HANDLE m_hComm;
  DCB m_dcb;
  COMMTIMEOUTS m_timeouts;
  BOOL m_bLastResult;
  DWORD m_dwBytesWritten;
  BOOL m_bOpen;

 private:
  bool ReadRun(BYTE* buffer, BYTE n, bool stopAtCr);

  CommApi& m_api;
};
