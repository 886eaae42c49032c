// What every run of the engine runs in: the machine's ports, the output streams, the user's
// interruption, and the exit codes a run ends with.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "engine/os/Interrupt.h"
#include "serial/CommApi.h"

constexpr int kExitOk = 0;
constexpr int kExitNoModule = 1;
constexpr int kExitCommError = 2;
constexpr int kExitVerifyDiffers = 3;
// The ledger cannot be used: refused at open, or lost in the middle of a run.
constexpr int kExitLedger = 4;
constexpr int kExitUsage = 64;
// An unexpected fault of the program itself (sysexits' EX_SOFTWARE).
constexpr int kExitInternal = 70;
// The results could not be written to stdout (sysexits' EX_IOERR).
constexpr int kExitOutput = 74;
constexpr int kExitInterrupted = 130;

// What --version prints, and what the ledger records as the program that made an attempt.
constexpr const char kCorvaneVersion[] = "corvane 1.2.0";

// Makes a channel whose only port, "COM1", is the device at a path.
using DevicePathOpener = std::function<std::unique_ptr<CommApi>(const std::string& path)>;

struct CRunEnv {
  // The machine's ports: their listing, and the channel to each.
  CommApi& m_api;
  // A channel to the one device path the user named (`--port /dev/ttyUSB0`), listed as its
  // only port "COM1"; null where the platform takes port names only.
  DevicePathOpener m_fnPathApi;
  std::ostream& m_out;
  std::ostream& m_err;
  // The progress goes to err only when it is a terminal.
  bool m_bErrIsTerminal;
  const CInterrupt& m_interrupt;
  // Writes straight to the standard error's descriptor, past the C library's stream lock, so
  // that a write blocked on a full pipe in one thread cannot hold up another thread's output
  // or the program's exit. Null: err is used instead (tests).
  std::function<void(const std::string& text)> m_fnRawErr;
  // The same for the standard output, for a stream written from a thread of its own (the
  // station's events): false once the output is gone. Null: out is used instead (tests).
  std::function<bool(const std::string& text)> m_fnRawOut;
};
