// CModsimProcess: runs the modsim executable as a child process, for tests and benchmarks.
//
// Contract: Start blocks until modsim has printed its line path (at most a few seconds) and
// returns false if it did not. Stop sends SIGTERM and waits for the exit; the destructor does
// the same for a child still running. Nothing here touches the line itself. modsim's stdin is
// a socket of ours that stays silent until Command writes to it. Sync and Command both wait
// for a line on modsim's stdout and read it through one buffer, each taking only its own kind
// of line; call them from one thread at a time.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

class CModsimProcess {
 public:
  CModsimProcess() = default;
  ~CModsimProcess();

  CModsimProcess(const CModsimProcess&) = delete;
  CModsimProcess& operator=(const CModsimProcess&) = delete;

  // Starts exe with args and reads its first stdout line, "PTY <path>" or "TTY <path>".
  bool Start(const std::string& exe, const std::vector<std::string>& args);
  // The slave side of modsim's pseudo-terminal (or the tty it serves).
  const std::string& Path() const { return m_strPath; }
  // SIGTERM, then wait. True when modsim exited with status 0.
  bool Stop();
  // Asks modsim (SIGUSR1) to finish writing its transcript and state file up to this moment,
  // and blocks until it has said so (at most a few seconds). modsim writes them off its
  // answering path, so a file read without this may lag the last answer by a moment.
  bool Sync();
  // Writes one control line (remove, insert ..., link, unlink) to modsim's stdin and blocks
  // until modsim has answered it (at most a few seconds). True on "OK ..."; answer, when
  // given, gets the answer line without its newline. A line holding a newline is refused.
  bool Command(const std::string& line, std::string* answer = nullptr);
  // Waits up to timeoutMs for modsim to end by itself (a vanishing module). True when it
  // exited with status 0 within that time.
  bool WaitExit(int timeoutMs);
  bool Running() const { return m_nPid > 0; }
  pid_t Pid() const { return m_nPid; }

  // key=value lines of a state file; empty when the file cannot be read.
  static std::map<std::string, std::string> ReadState(const std::string& file);
  static std::string ReadFile(const std::string& file);

 private:
  // Takes the first complete line of modsim's stdout that wanted accepts, leaving the others
  // for their own callers; *owed such lines are first dropped (late answers to calls that gave
  // up waiting). False when none has come by deadline or the output has ended.
  bool TakeLine(bool (*wanted)(const std::string&), int* owed, std::string* line,
                long long deadline);
  // One read of modsim's stdout into m_strOutput; false on timeout or at its end.
  bool ReadMore(long long deadline);
  // After the child is reaped: closes both pipes and drops what was read.
  void Forget();

  pid_t m_nPid = -1;
  int m_hOutput = -1;
  int m_hInput = -1;
  std::string m_strOutput;  // read from modsim's stdout, not yet taken
  bool m_bOutputEnded = false;
  int m_nSyncsOwed = 0;
  int m_nAnswersOwed = 0;
  std::string m_strPath;
};
