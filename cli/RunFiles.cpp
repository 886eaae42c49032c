#include "cli/RunFiles.h"

#include "cli/Settings.h"
#include "ledger/Ledger.h"
#include "platform/FilePolicy.h"

bool CheckRunFiles(const std::vector<CRunFile>& files, std::string* error) {
  CFileRoles roles;
  for (const CRunFile& file : files) {
    const std::string& path = file.m_strPath;
    if (path.empty() || (file.m_use == CRunFile::EUse::Append && path == "-")) continue;
    if (file.m_use == CRunFile::EUse::Ledger && IsPostgresLocation(path)) continue;
    const bool written =
        file.m_use == CRunFile::EUse::Replace || file.m_use == CRunFile::EUse::Append;
    const std::string why =
        written ? CheckWriteTarget(path, file.m_use == CRunFile::EUse::Append ? EWriteUse::Append
                                                                              : EWriteUse::Replace)
                : std::string();
    if (!why.empty()) {
      *error = std::string(file.m_szOption) + ": " + Printable(path) + " " + why;
      return false;
    }
    if (!roles.Add(file.m_szOption, path, error)) return false;
  }
  return true;
}
