// The operator's terminal, for a command that asks them to do something by hand (swap the
// module on the port) and waits until they press Enter.
//
// Contract: Open refuses when the program has no terminal to ask on: its standard input is
// not one, or there is no controlling terminal (Windows: no console). Say writes to that
// terminal, not to stdout, so the results stay clean for a pipe. WaitEnter blocks in the OS
// until a line is entered, the input ends (Ctrl-D) or the user interrupts; nothing else wakes
// it.
#pragma once

#include <memory>
#include <string>

#include "engine/os/Interrupt.h"
#include "engine/pair/PairRun.h"

class COperatorConsole final : public CPairOperator {
 public:
  COperatorConsole();
  ~COperatorConsole() override;
  COperatorConsole(const COperatorConsole&) = delete;
  COperatorConsole& operator=(const COperatorConsole&) = delete;

  // False with why in *why ("the standard input is not a terminal").
  bool Open(std::string* why);
  void Say(const std::string& text) override;
  // A prompt: what was typed before it is thrown away first (an Enter pressed early is no
  // answer to a question not yet asked), then the text is said.
  void Ask(const std::string& text) override;
  EAnswer WaitEnter(const CInterrupt& interrupt) override;

 private:
  struct CHandles;
  std::unique_ptr<CHandles> m_pHandles;
};
