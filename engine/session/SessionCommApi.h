// The system calls of one worker's serial channel (a module's session in a gang, a station's
// slot, a read): the platform's, passed through, with three things added that the dialog does
// not need.
//  - The port listing can be narrowed to one name, so the dialog's search (list, probe in
//    order, take the first that answers) runs unchanged over the port the user named.
//  - Every open is told to an observer, so progress can say which port is being searched.
//  - Once the user interrupts, no port is opened and no byte is written: the exchange under
//    way still reads its answer, the next one is refused, and from then on reads fail at once
//    too, so the operation takes its own failure path quickly, which closes the port. Closing
//    always passes through.
//
// Contract: one object per worker thread; the base must outlive it.
#pragma once

#include <functional>
#include <string>

#include "engine/os/Interrupt.h"
#include "serial/CommApi.h"

class CSessionCommApi final : public CommApi {
 public:
  CSessionCommApi(CommApi& base, const CInterrupt& interrupt);

  // The listing holds only this name from now on; empty lists what the base lists.
  void ListOnly(std::string portName) { m_strOnly = std::move(portName); }
  // The last port whose open failed because another program holds it; empty when none did.
  const std::string& BusyPort() const { return m_strBusyPort; }
  // The last port the user may not open (no permission); empty when none.
  const std::string& DeniedPort() const { return m_strDeniedPort; }
  // Why the last open failed (a Win32 error code); 0 after an open that worked.
  DWORD LastOpenError() const { return m_dwLastOpenError; }
  // Called with the port name ("COM3", without the device prefix) before every open.
  std::function<void(const std::string& portName)> m_fnOnOpen;

  HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags, HANDLE templateFile) override;
  BOOL CloseHandle(HANDLE handle) override;
  BOOL GetCommState(HANDLE handle, LPDCB dcb) override;
  BOOL SetCommState(HANDLE handle, LPDCB dcb) override;
  BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override;
  BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) override;
  BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                LPOVERLAPPED overlapped) override;
  BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                 LPOVERLAPPED overlapped) override;
  BOOL GetVersionExA(LPOSVERSIONINFOA info) override;
  DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max) override;
  DWORD GetLastError() override;

 private:
  // Fails the call as aborted when the user has interrupted; the channel is stopped then.
  bool Aborted();

  CommApi& m_base;
  const CInterrupt& m_interrupt;
  std::string m_strOnly;
  std::string m_strBusyPort;
  std::string m_strDeniedPort;
  DWORD m_dwLastOpenError = 0;
  bool m_bStopped = false;
  // Set when the last failure was ours rather than the base's.
  DWORD m_dwOwnError = 0;
};
