// CDiskWriter: writes modsim's transcript and state file on a thread of its own, so that a
// slow or blocked disk never holds back an answer on the line.
//
// Contract: Append and SetState copy their text under a lock and return at once; the thread
// writes it afterwards, transcript lines in the order appended (flushed after each batch),
// the state as its latest text only, written beside the file and renamed over it so that a
// reader never sees half a file. Drain blocks until everything handed over before the call
// has been written. The destructor drains, then joins the thread. Create it only after the
// process has blocked the signals it takes through a signalfd: the thread inherits the mask.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

class CDiskWriter {
 public:
  // transcript (may be null) is owned from now on and closed by the destructor; an empty
  // statePath writes no state.
  CDiskWriter(FILE* transcript, std::string statePath);
  ~CDiskWriter();

  CDiskWriter(const CDiskWriter&) = delete;
  CDiskWriter& operator=(const CDiskWriter&) = delete;

  void Append(const std::string& line);
  void SetState(const std::string& text);
  void Drain();

 private:
  void Run();
  void WriteState(const std::string& text);

  FILE* m_pTranscript;
  std::string m_strStatePath;

  std::mutex m_mutex;
  std::condition_variable m_cvWork;
  std::condition_variable m_cvDone;
  std::string m_strLog;    // lines not yet taken by the thread
  std::string m_strState;  // latest state not yet taken
  bool m_bStatePending = false;
  unsigned long m_nHanded = 0;   // batches handed over
  unsigned long m_nWritten = 0;  // batches written
  bool m_bStop = false;
  std::thread m_thread;
};
