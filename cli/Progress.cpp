#include "cli/Progress.h"

#include "cli/HeadlessView.h"

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

CGangProgress::CGangProgress(std::ostream& err, bool terminal, bool quiet,
                             std::vector<std::string> ports)
    : m_err(err), m_bTerminal(terminal), m_bQuiet(quiet), m_ports(std::move(ports)) {
  m_lines.resize(m_ports.size());
  m_sinks.reserve(m_ports.size());
  for (size_t k = 0; k < m_ports.size(); ++k) m_sinks.emplace_back(this, k);
}

void CGangProgress::Update(size_t index, int step, const std::string& doing) {
  if (m_bQuiet) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string line = m_ports[index] + ": " + ProgressLine(step, doing);
  if (line == m_lines[index]) return;
  m_lines[index] = line;
  if (m_bTerminal) {
    Redraw();
  } else {
    m_err << m_ports[index] << ": " << step << "/" << CHeadlessView::kProgressSteps << " " << doing
          << "\n"
          << std::flush;
  }
}

void CGangProgress::Redraw() {
  // Back to the block's first line, then every line afresh.
  if (m_bDrawn) m_err << "\x1b[" << m_lines.size() << "F";
  for (const std::string& line : m_lines) m_err << "\x1b[2K" << line << "\n";
  m_err << std::flush;
  m_bDrawn = true;
}
