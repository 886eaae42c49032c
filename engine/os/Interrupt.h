// The user's interruption (Ctrl-C) of a command-line run, seen by every worker.
//
// Contract: Set may be called from a signal handler (POSIX) or the console's control thread
// (Windows) and only ever goes from clear to set. Wait blocks in the OS: a pause of the
// protocol ends at once when the user interrupts, instead of running out its milliseconds.
#pragma once

#include <atomic>
#include <memory>

#include "wintypes.h"

class CInterrupt {
 public:
  CInterrupt();
  ~CInterrupt();

  CInterrupt(const CInterrupt&) = delete;
  CInterrupt& operator=(const CInterrupt&) = delete;

  void Set();
  bool IsSet() const { return m_bSet.load(); }
  // Sleeps ms milliseconds, or less once interrupted. True when interrupted.
  bool Wait(DWORD ms) const;

  // Routes Ctrl-C to Set of this object: SIGINT, SIGTERM and SIGHUP on POSIX (SIGPIPE is ignored),
  // the console's Ctrl-C, Ctrl-Break and close events on Windows. One object at a time receives
  // them.
  void InstallHandlers();

 private:
  // What a waiter blocks on: the two ends of a pipe written once by Set, which wakes every
  // waiting poll() (POSIX), or a manual-reset event (Windows).
  struct CWaitable;

  std::atomic<bool> m_bSet{false};
  std::unique_ptr<CWaitable> m_pWaitable;
};
