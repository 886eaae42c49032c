#include "engine/session/HeadlessView.h"

std::string CHeadlessView::GetControlText(int id) {
  const auto found = m_texts.find(id);
  return found == m_texts.end() ? std::string() : found->second;
}

void CHeadlessView::SetControlText(int id, const std::string& text) {
  m_texts[id] = text;
}

bool CHeadlessView::IsChecked(int id) {
  const auto found = m_checks.find(id);
  return found != m_checks.end() && found->second;
}

void CHeadlessView::SetCheck(int id, bool checked) {
  m_checks[id] = checked;
}

void CHeadlessView::StepProgress() {
  // The bar control stops at its top; so does this one.
  if (m_nPos < kProgressSteps) ++m_nPos;
  if (m_nPos > m_nReached) m_nReached = m_nPos;
  if (m_fnProgress) m_fnProgress(m_nPos);
}

void CHeadlessView::ResetProgress() {
  m_nPos = 0;
  if (m_fnProgress) m_fnProgress(0);
}

void CHeadlessView::ShowMessage(const char* text) {
  m_messages.emplace_back(text);
}

void CHeadlessView::BeginWaitCursor() {
  if (m_fnSearching) m_fnSearching(true);
}

void CHeadlessView::EndWaitCursor() {
  if (m_fnSearching) m_fnSearching(false);
}

void CHeadlessView::BeginRun() {
  m_messages.clear();
  m_nPos = 0;
  m_nReached = 0;
}
