#include "cli/station/StationBoard.h"

#include <algorithm>
#include <cstdio>

#include "engine/report/Output.h"
#include "cli/Progress.h"
#include "engine/station/StationWords.h"
#include "engine/values/Settings.h"

namespace {

// A terminal whose height is not known is taken to be the classic 24 lines.
constexpr size_t kDefaultRows = 24;
constexpr size_t kMaxLabelWidth = 40;
// Plain lines waiting for a slow log; more are dropped and counted.
constexpr size_t kMaxPendingLines = 1024;
// Redraws come at most ten times a second: a terminal need not see every step.
constexpr auto kRedrawPace = std::chrono::milliseconds(100);

}  // namespace

std::string BoardFrame(const std::vector<std::string>& lines, const std::string& summary,
                       size_t rows, size_t columns) {
  // One line stays free for the cursor below the block, one is the summary's.
  const size_t fit = rows > 3 ? rows - 1 : kDefaultRows - 1;
  const size_t room = fit - 1;
  const bool cut = lines.size() > room;
  const size_t full = cut ? room - 1 : lines.size();
  std::string text;
  for (size_t k = 0; k < full; ++k) text += "\x1b[2K" + FitLine(lines[k], columns) + "\n";
  if (cut) {
    text += "\x1b[2K" +
            FitLine("... and " + std::to_string(lines.size() - full) + " more slots", columns) +
            "\n";
  }
  return text + "\x1b[2K" + FitLine(summary, columns) + "\n";
}

CStationBoard::CStationBoard(CWriter write, CScreen screen, bool quiet, bool bell,
                             CWriterThread::CStarter start)
    : m_screen(screen),
      m_bBell(bell && screen.m_bTerminal),
      m_writer(quiet ? CWriterThread::CWrite()
                     : [write](const std::string& text) {
                         write(text);
                         return true;
                       },
               [&] {
                 CWriterThread::COptions options;
                 options.m_nBound = kMaxPendingLines;
                 options.m_fnDropped = [](size_t dropped) {
                   return "(" + std::to_string(dropped) + " lines dropped)\n";
                 };
                 if (screen.m_bTerminal) options.m_fnFrame = [this] { return Frame(); };
                 options.m_pace = kRedrawPace;
                 options.m_fnStart = std::move(start);
                 return options;
               }()) {}

void CStationBoard::Stop() {
  // The last frame, if the output takes it soon; a blocked output is left to its thread.
  m_writer.Stop(std::chrono::milliseconds(500));
}

CStationBoard::CSlotLine& CStationBoard::Line(const CEventPlace& at) {
  if (at.m_nSlot >= m_lines.size()) m_lines.resize(at.m_nSlot + 1);
  CSlotLine& line = m_lines[at.m_nSlot];
  if (line.m_strLabel.empty()) line.m_strLabel = at.m_strLabel;
  return line;
}

void CStationBoard::SetState(const CEventPlace& at, const std::string& state) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t before = m_lines.size();
    CSlotLine& line = Line(at);
    // A new slot's line is drawn even while it says what a line says at first.
    if (line.m_strState == state && m_lines.size() == before) return;
    line.m_strState = state;
  }
  m_writer.Refresh();
}

void CStationBoard::Event(const CEventPlace& at, const std::string& text, bool failure) {
  if (m_screen.m_bTerminal) {
    if (!failure || !m_bBell) return;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_bRing = true;
    }
    m_writer.Refresh();
    return;
  }
  std::string label;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    label = Line(at).m_strLabel;
  }
  m_writer.Post(label + ": " + text + "\n");
}

void CStationBoard::OnArrived(const CModuleArrived& event) {
  Event(event.m_at, "arrived", false);
}

void CStationBoard::OnStep(const CStepStarted& event) {
  const char* phase = event.m_phase == EPhase::Reading ? "reading " : "programming ";
  SetState(event.m_at, phase + ProgressLine(event.m_nStep, event.m_strDoing));
}

void CStationBoard::OnAttemptEnded(const CAttemptEnded& event) {
  const std::string result = AttemptResult(event);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    Line(event.m_at).m_strResult = result;
  }
  const EOutcome outcome = event.m_report.m_outcome;
  Event(event.m_at, result, outcome != EOutcome::Ok && outcome != EOutcome::AlreadyProgrammed);
}

void CStationBoard::OnRemoved(const CModuleRemoved& event) {
  Event(event.m_at, "removed", false);
}

void CStationBoard::OnSlotState(const CSlotStateChanged& event) {
  const std::string port = Printable(event.m_at.m_strPort);
  switch (event.m_state) {
    case ESlotState::Busy:
    case ESlotState::Denied: {
      const bool busy = event.m_state == ESlotState::Busy;
      const std::string why = SlotStateText(event.m_state);
      Event(event.m_at, port + (busy ? " is " : ": ") + why, false);
      SetState(event.m_at, why + "; run `corvane doctor --port " + port + "`");
      return;
    }
    case ESlotState::Reading:
    case ESlotState::Programming:
      return;  // its steps say more
    case ESlotState::Done: {
      std::string result;
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        result = Line(event.m_at).m_strResult;
      }
      SetState(event.m_at, result + ", remove the module");
      return;
    }
    default:
      SetState(event.m_at, SlotStateText(event.m_state));
  }
}

void CStationBoard::OnCounts(const CRunCounts& counts) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string summary = StationSummary(counts);
    if (m_strSummary == summary) return;
    m_strSummary = summary;
  }
  m_writer.Refresh();
}

// The last frame is drawn before the run's closing lines are written below it.
void CStationBoard::OnRunEnded(const CRunEnded& ended) {
  OnCounts(ended.m_counts);
  Stop();
}

std::string CStationBoard::Frame() {
  std::lock_guard<std::mutex> lock(m_mutex);
  // A run refused before it began has drawn nothing and leaves nothing on the screen.
  if (m_lines.empty() && m_strSummary.empty()) return std::string();
  size_t width = 0;
  for (const CSlotLine& line : m_lines) width = std::max(width, TextWidth(line.m_strLabel));
  width = std::min(width, kMaxLabelWidth);
  std::vector<std::string> lines;
  for (const CSlotLine& line : m_lines) {
    std::string label = line.m_strLabel;
    const size_t shown = TextWidth(label);
    if (shown < width) label.append(width - shown, ' ');
    lines.push_back(label + "  " + line.m_strState);
  }
  const size_t rows = m_screen.m_nRows > 0 ? static_cast<size_t>(m_screen.m_nRows) : 0;
  const size_t columns = m_screen.m_nColumns > 0 ? static_cast<size_t>(m_screen.m_nColumns) : 0;
  // Back to the block's first line, then every line afresh.
  std::string text = m_nDrawn > 0 ? "\x1b[" + std::to_string(m_nDrawn) + "F" : "";
  const std::string block = BoardFrame(lines, m_strSummary, rows, columns);
  m_nDrawn = static_cast<size_t>(std::count(block.begin(), block.end(), '\n'));
  text += block;
  if (m_bRing) text += "\a";
  m_bRing = false;
  return text;
}
