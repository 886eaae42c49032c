// Progress of a command-line run on the user's terminal (stderr).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "engine/session/ModuleSession.h"
#include "engine/events/EngineEvent.h"
#include "engine/events/WriterThread.h"

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
// Characters, not bytes: a label from a file may hold UTF-8.
size_t TextWidth(const std::string& text);
// A line cut to fit columns - 1 characters (the last column would wrap on some terminals, and
// a wrapped line breaks the redraw of a block); 0 columns: as it is.
std::string FitLine(const std::string& line, size_t columns);

// One line per port for gang runs. On a terminal the block is redrawn in place (the cursor
// moves up over it), at most as many lines as the screen holds, the rest summed up in one
// line; otherwise each change is one plain line "COM3: 5/7 reading the PIN".
//
// Contract: workers report from their own threads and never wait on the output: a writer
// thread draws. When the output does not take what is written (a full pipe), changes pile up
// only to a limit and later ones are dropped, and a line says how many. Stop draws the last
// state if the output takes it and returns without waiting on an output that does not.
class CGangProgress final : public CEngineEventSink {
 public:
  using CWriter = std::function<void(const std::string& text)>;
  // write: where the frames go; it may block.
  // screenRows, screenColumns: the terminal's size, 0 when not known.
  CGangProgress(CWriter write, bool terminal, bool quiet, int screenRows,
                std::vector<std::string> ports, int screenColumns = 0);
  ~CGangProgress() override { Stop(); }
  CGangProgress(const CGangProgress&) = delete;
  CGangProgress& operator=(const CGangProgress&) = delete;

  // A step of port index m_at.m_nSlot.
  void OnStep(const CStepStarted& step) override;
  void Stop();

 private:
  std::string Frame();

  const bool m_bTerminal;
  const std::vector<std::string> m_ports;
  const size_t m_nShown;  // lines of the block on a terminal, the summary line among them
  const size_t m_nColumns;
  std::mutex m_mutex;
  std::vector<std::string> m_lines;
  bool m_bDrawn = false;
  CWriterThread m_writer;
};
