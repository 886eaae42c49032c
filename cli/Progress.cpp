#include "cli/Progress.h"

#include <algorithm>
#include <chrono>

#include "engine/os/Platform.h"
#include "engine/session/HeadlessView.h"

std::string ProgressLine(int step, const std::string& doing) {
  const int total = CHeadlessView::kProgressSteps;
  if (step < 0) step = 0;
  if (step > total) step = total;
  std::string line = "[";
  line.append(static_cast<size_t>(step), '#');
  line.append(static_cast<size_t>(total - step), '-');
  line += "] " + std::to_string(step) + "/" + std::to_string(total) + " " + doing;
  return line;
}

size_t TextWidth(const std::string& text) {
  size_t width = 0;
  for (unsigned char c : text) width += (c & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

std::string FitLine(const std::string& line, size_t columns) {
  if (columns < 2 || TextWidth(line) < columns) return line;
  const size_t room = columns - 1;
  const std::string mark = room > 3 ? "..." : "";
  std::string fitted;
  size_t width = 0;
  for (size_t k = 0; k < line.size(); ++k) {
    const bool starts = (static_cast<unsigned char>(line[k]) & 0xC0) != 0x80;
    if (starts && ++width > room - mark.size()) break;
    fitted += line[k];
  }
  return fitted + mark;
}

void CTerminalProgress::OnProgress(int step, const std::string& doing) {
  if (!m_bEnabled) return;
  // Carriage return and erase-to-end-of-line: the bar is redrawn where it stands.
  m_err << "\r\x1b[K" << ProgressLine(step, doing) << std::flush;
  m_bDrawn = true;
}

void CTerminalProgress::Finish() {
  if (!m_bDrawn) return;
  m_err << "\r\x1b[K" << std::flush;
  m_bDrawn = false;
}

namespace {

constexpr size_t kMaxPendingLines = 256;

// The block as the terminal shows it: every port's line, or as many as fit and then one line
// for the rest.
std::string Frame(const std::vector<std::string>& lines, size_t shown, size_t columns, bool drawn) {
  std::string text;
  // Back to the block's first line, then every line afresh.
  if (drawn) text += "\x1b[" + std::to_string(shown) + "F";
  const bool cut = lines.size() > shown;
  const size_t full = cut ? shown - 1 : lines.size();
  for (size_t k = 0; k < full; ++k) text += "\x1b[2K" + FitLine(lines[k], columns) + "\n";
  if (cut) {
    text += "\x1b[2K" +
            FitLine("... and " + std::to_string(lines.size() - full) +
                        " more ports (the report lists every port)",
                    columns) +
            "\n";
  }
  return text;
}

// One line stays free for the cursor below the block.
size_t Shown(int screenRows, size_t ports) {
  const size_t fit = screenRows > 2 ? static_cast<size_t>(screenRows - 1) : 23;
  return std::min(ports, std::max<size_t>(fit, 2));
}

CWriterThread::COptions GangOptions(bool terminal, CWriterThread::CFrame frame) {
  CWriterThread::COptions options;
  options.m_nBound = kMaxPendingLines;
  options.m_fnDropped = [](size_t dropped) {
    return "(" + std::to_string(dropped) + " progress lines dropped)\n";
  };
  if (terminal) options.m_fnFrame = std::move(frame);
  options.m_fnStart = StartWorkerThread;
  return options;
}

}  // namespace

CGangProgress::CGangProgress(CWriter write, bool terminal, bool quiet, int screenRows,
                             std::vector<std::string> ports, int screenColumns)
    : m_bTerminal(terminal),
      m_ports(std::move(ports)),
      m_nShown(Shown(screenRows, m_ports.size())),
      m_nColumns(screenColumns > 0 ? static_cast<size_t>(screenColumns) : 0),
      m_lines(m_ports.size()),
      m_writer(quiet || m_ports.empty() ? CWriterThread::CWrite()
                                        : [write](const std::string& text) {
                                            write(text);
                                            return true;
                                          },
               GangOptions(terminal, [this] { return Frame(); })) {}

void CGangProgress::OnStep(const CStepStarted& event) {
  const size_t index = event.m_at.m_nSlot;
  const int step = event.m_nStep;
  const std::string& doing = event.m_strDoing;
  if (!m_writer.Running() || index >= m_ports.size()) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string line = m_ports[index] + ": " + ProgressLine(step, doing);
    if (line == m_lines[index]) return;
    m_lines[index] = std::move(line);
  }
  if (m_bTerminal) {
    m_writer.Refresh();
  } else {
    m_writer.Post(m_ports[index] + ": " + std::to_string(step) + "/" +
                  std::to_string(CHeadlessView::kProgressSteps) + " " + doing + "\n");
  }
}

std::string CGangProgress::Frame() {
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string text = ::Frame(m_lines, m_nShown, m_nColumns, m_bDrawn);
  m_bDrawn = true;
  return text;
}

void CGangProgress::Stop() {
  // The last frame, if the output takes it soon; a blocked output is left to its thread.
  m_writer.Stop(std::chrono::milliseconds(500));
}
