// The files a run names, checked together before any port is opened: each file it writes as
// platform/FilePolicy.h wants it, and no file in two roles (a report that is the ledger's own
// file would replace the ledger).
#pragma once

#include <string>
#include <vector>

struct CRunFile {
  enum class EUse {
    Read,     // read only (a plan, a profile to start from): its role is all that is checked
    Replace,  // written whole and put in place (a report, a saved profile)
    Append,   // appended to ("-" for stdout where the option takes it: the events)
    Ledger,   // the ledger's location: a file's, or a server's URL (no file)
  };
  const char* m_szOption;
  std::string m_strPath;  // empty: not given
  EUse m_use;
};

// True when the run may go on; false with one line in *error, naming the option, the file and
// why, and the exit code in *code: 4 for a ledger's file that is no file (a device, a FIFO, a
// name Windows keeps for a device; the rest of its location is the ledger's to judge when it
// opens), 64 for everything else, two roles on one file included.
bool CheckRunFiles(const std::vector<CRunFile>& files, std::string* error, int* code);
