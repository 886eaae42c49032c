#include "engine/os/Interrupt.h"

#include <windows.h>

namespace {

CInterrupt* volatile g_pReceiver = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (g_pReceiver != nullptr) g_pReceiver->Set();
      // Handled: the process is not ended here; the run ends at its next exchange and
      // closes its port on the way out.
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

struct CInterrupt::CWaitable {
  HANDLE m_hEvent = nullptr;
};

CInterrupt::CInterrupt() : m_pWaitable(std::make_unique<CWaitable>()) {
  m_pWaitable->m_hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

CInterrupt::~CInterrupt() {
  if (g_pReceiver == this) {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_pReceiver = nullptr;
  }
  if (m_pWaitable->m_hEvent != nullptr) CloseHandle(m_pWaitable->m_hEvent);
}

void CInterrupt::Set() {
  if (m_bSet.exchange(true)) return;
  if (m_pWaitable->m_hEvent != nullptr) SetEvent(m_pWaitable->m_hEvent);
}

bool CInterrupt::Wait(DWORD ms) const {
  if (IsSet()) return true;
  if (m_pWaitable->m_hEvent == nullptr) {
    Sleep(ms);
  } else {
    WaitForSingleObject(m_pWaitable->m_hEvent, ms);
  }
  return IsSet();
}

void CInterrupt::InstallHandlers() {
  g_pReceiver = this;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
