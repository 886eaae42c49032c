#include "tools/modsim/DiskWriter.h"

#include <utility>

CDiskWriter::CDiskWriter(FILE* transcript, std::string statePath)
    : m_pTranscript(transcript),
      m_strStatePath(std::move(statePath)),
      m_thread([this] { Run(); }) {}

CDiskWriter::~CDiskWriter() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStop = true;
  }
  m_cvWork.notify_one();
  m_thread.join();
  if (m_pTranscript) std::fclose(m_pTranscript);
}

void CDiskWriter::Append(const std::string& line) {
  if (!m_pTranscript) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strLog += line;
    ++m_nHanded;
  }
  m_cvWork.notify_one();
}

void CDiskWriter::SetState(const std::string& text) {
  if (m_strStatePath.empty()) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strState = text;
    m_bStatePending = true;
    ++m_nHanded;
  }
  m_cvWork.notify_one();
}

void CDiskWriter::Drain() {
  std::unique_lock<std::mutex> lock(m_mutex);
  const unsigned long target = m_nHanded;
  m_cvDone.wait(lock, [&] { return m_nWritten >= target; });
}

void CDiskWriter::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_cvWork.wait(lock, [this] { return m_bStop || m_nWritten < m_nHanded; });
    if (m_nWritten == m_nHanded && m_bStop) return;
    // Take everything handed over so far and write it without the lock, so the line's loop
    // never waits on the disk, only on this swap.
    std::string log;
    log.swap(m_strLog);
    std::string state;
    const bool bState = m_bStatePending;
    if (bState) state.swap(m_strState);
    m_bStatePending = false;
    const unsigned long handed = m_nHanded;
    lock.unlock();
    if (!log.empty()) {
      std::fwrite(log.data(), 1, log.size(), m_pTranscript);
      std::fflush(m_pTranscript);
    }
    if (bState) WriteState(state);
    lock.lock();
    m_nWritten = handed;
    m_cvDone.notify_all();
  }
}

void CDiskWriter::WriteState(const std::string& text) {
  const std::string temp = m_strStatePath + ".tmp";
  FILE* file = std::fopen(temp.c_str(), "w");
  if (!file) return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  std::rename(temp.c_str(), m_strStatePath.c_str());
}
