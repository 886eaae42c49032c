// Progress of a command-line run on the user's terminal (stderr).
#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "cli/ModuleSession.h"

// One bar, redrawn in place: "[#####--] 5/7 reading the PIN". Draws only when enabled (stderr
// is a terminal and the user did not ask for quiet); Finish clears the line.
class CTerminalProgress final : public CProgressSink {
 public:
  CTerminalProgress(std::ostream& err, bool enabled) : m_err(err), m_bEnabled(enabled) {}
  ~CTerminalProgress() override { Finish(); }

  void OnProgress(int step, const std::string& doing) override;
  void Finish();

 private:
  std::ostream& m_err;
  bool m_bEnabled;
  bool m_bDrawn = false;
};

// The bar's text without any terminal control: "[#####--] 5/7 reading the PIN".
std::string ProgressLine(int step, const std::string& doing);

// One line per port for gang runs. On a terminal every line is redrawn in place (the cursor
// moves up over the block); otherwise each change is one plain line "COM3: 5/7 reading the
// PIN". Thread-safe: workers report from their own threads.
class CGangProgress {
 public:
  CGangProgress(std::ostream& err, bool terminal, bool quiet, std::vector<std::string> ports);

  // A sink for the worker of port index k.
  CProgressSink& Sink(size_t k) { return m_sinks[k]; }

 private:
  class CSink final : public CProgressSink {
   public:
    CSink(CGangProgress* owner, size_t index) : m_pOwner(owner), m_nIndex(index) {}
    void OnProgress(int step, const std::string& doing) override {
      m_pOwner->Update(m_nIndex, step, doing);
    }

   private:
    CGangProgress* m_pOwner;
    size_t m_nIndex;
  };

  void Update(size_t index, int step, const std::string& doing);
  void Redraw();

  std::ostream& m_err;
  bool m_bTerminal;
  bool m_bQuiet;
  std::vector<std::string> m_ports;
  std::vector<std::string> m_lines;
  std::vector<CSink> m_sinks;
  std::mutex m_mutex;
  bool m_bDrawn = false;
};
