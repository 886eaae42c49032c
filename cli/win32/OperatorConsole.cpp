#include "cli/OperatorConsole.h"

#include <windows.h>

struct COperatorConsole::CHandles {
  HANDLE m_hInput = INVALID_HANDLE_VALUE;
  HANDLE m_hOutput = INVALID_HANDLE_VALUE;
};

COperatorConsole::COperatorConsole() : m_pHandles(std::make_unique<CHandles>()) {}

COperatorConsole::~COperatorConsole() {
  if (m_pHandles->m_hOutput != INVALID_HANDLE_VALUE) CloseHandle(m_pHandles->m_hOutput);
}

bool COperatorConsole::Open(std::string* why) {
  DWORD mode = 0;
  m_pHandles->m_hInput = GetStdHandle(STD_INPUT_HANDLE);
  if (m_pHandles->m_hInput == INVALID_HANDLE_VALUE || m_pHandles->m_hInput == nullptr ||
      !GetConsoleMode(m_pHandles->m_hInput, &mode)) {
    *why = "the standard input is not a console";
    return false;
  }
  // The console's own screen, whatever stdout and stderr were sent to.
  m_pHandles->m_hOutput =
      CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (m_pHandles->m_hOutput == INVALID_HANDLE_VALUE) {
    *why = "there is no console window";
    return false;
  }
  return true;
}

void COperatorConsole::Say(const std::string& text) {
  DWORD wrote = 0;
  WriteFile(m_pHandles->m_hOutput, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
}

void COperatorConsole::Ask(const std::string& text) {
  FlushConsoleInputBuffer(m_pHandles->m_hInput);
  Say(text);
}

COperatorConsole::EAnswer COperatorConsole::WaitEnter(const CInterrupt& interrupt) {
  // A line-mode console read returns at Enter; Ctrl-C ends it early (the control handler has
  // set the interruption by then), closing the console ends it with nothing read.
  for (;;) {
    if (interrupt.IsSet()) return EAnswer::Interrupted;
    char line[256];
    DWORD got = 0;
    const BOOL read = ReadFile(m_pHandles->m_hInput, line, sizeof line, &got, nullptr);
    // The control handler runs on a thread of its own: a read that Ctrl-C cut short may
    // return before it has set the flag.
    if (!read && GetLastError() == ERROR_OPERATION_ABORTED && interrupt.Wait(500)) {
      return EAnswer::Interrupted;
    }
    if (interrupt.IsSet()) return EAnswer::Interrupted;
    if (!read || got == 0) return EAnswer::EndOfInput;
    for (DWORD k = 0; k < got; ++k) {
      if (line[k] == '\n' || line[k] == '\r') return EAnswer::Enter;
    }
  }
}
