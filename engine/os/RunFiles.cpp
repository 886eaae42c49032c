#include "engine/os/RunFiles.h"

#include "engine/os/RunEnv.h"
#include "ledger/Ledger.h"
#include "platform/FilePolicy.h"

bool CheckRunFiles(const std::vector<CRunFile>& files, std::string* error, int* code) {
  CFileRoles roles;
  *code = kExitUsage;
  for (const CRunFile& file : files) {
    const std::string& path = file.m_strPath;
    if (path.empty() || (file.m_use == CRunFile::EUse::Append && path == "-")) continue;
    if (file.m_use == CRunFile::EUse::Ledger && IsPostgresLocation(path)) continue;
    // Whether a ledger may be reached through a link is the ledger's own rule.
    const std::string why = file.m_use == CRunFile::EUse::Read ? std::string()
                            : file.m_use == CRunFile::EUse::Append
                                ? CheckWriteTarget(path, EWriteUse::Append)
                                : CheckWriteTarget(path, EWriteUse::Replace);
    if (!why.empty()) {
      // Worded as the ledger words every location it refuses.
      const bool ledger = file.m_use == CRunFile::EUse::Ledger;
      if (ledger) *code = kExitLedger;
      *error = ledger ? "ledger " + ShownPath(path) + ": " + why
                      : std::string(file.m_szOption) + ": " + ShownPath(path) + " " + why;
      return false;
    }
    if (!roles.Add(file.m_szOption, path, error)) return false;
    if (file.m_use != CRunFile::EUse::Ledger) continue;
    // SQLite's own files beside the ledger are the ledger too: events appended to its log
    // would corrupt it.
    for (const char* companion : {"-wal", "-shm", "-journal"}) {
      if (!roles.Add(file.m_szOption, path + companion, error)) return false;
    }
  }
  return true;
}
