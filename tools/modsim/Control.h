// Control lines on modsim's stdin: a bench tells the simulated jig that a module was taken off
// or put on, or that its port left or came back to the folder the host watches.
//
// Contract: CLineReader reads only when the caller's poll has said its descriptor is ready,
// so the loop never blocks on it; at end of input (or on a descriptor that cannot be read) it
// stops for good and Fd() becomes -1, which poll ignores. ParseControl only parses: applying
// a control line is the caller's.
#pragma once

#include <string>
#include <vector>

#include "tools/modsim/ModuleSim.h"

enum class EControl { Remove, Insert, Link, Unlink };

struct CControl {
  EControl m_eKind = EControl::Remove;
  // For Insert: factory settings with the line's options applied.
  CModuleState m_state;
};

// The line without its newline. False with why set ("unknown command", "bad --role: boss", ...)
// when it is not a control line or a value fails the command line's checks.
bool ParseControl(const std::string& line, CControl& out, std::string& why);

class CLineReader {
 public:
  explicit CLineReader(int fd) : m_hInput(fd) {}

  int Fd() const { return m_hInput; }
  // One read of what is there; complete lines (without "\n" or a trailing "\r") are added to
  // lines. A line longer than kMaxLine is handed over once, longer than kMaxLine (the caller
  // refuses it), as soon as it is that long; the rest of it is dropped.
  void Read(std::vector<std::string>& lines);

  static constexpr size_t kMaxLine = 4096;

 private:
  int m_hInput;
  std::string m_strBuffer;
  bool m_bDiscarding = false;
};
