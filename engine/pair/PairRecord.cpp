#include "engine/pair/PairRecord.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/AtomicFile.h"

namespace fs = std::filesystem;

namespace {

// Longer than any record: a bigger file is not one.
constexpr std::streamsize kRecordMaxBytes = 256;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

CPairRecordFile::CPairRecordFile(const std::string& folder, const std::string& port)
    : m_strFolder(folder) {
  // One file per port; its name keeps letters and digits of the port and stands in for the
  // rest, so any port name gives a plain file name in the folder.
  std::string name = "pair-";
  for (char c : port) name.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  m_strPath = (fs::path(folder) / name).string();
}

std::string CPairRecordFile::DefaultFolder() {
#ifdef _WIN32
  const std::string local = Environment("LOCALAPPDATA");
  return local.empty() ? std::string() : local + "\\corvane";
#else
  const std::string state = Environment("XDG_STATE_HOME");
  if (!state.empty() && state[0] == '/') return state + "/corvane";
  const std::string home = Environment("HOME");
  return home.empty() ? std::string() : home + "/.local/state/corvane";
#endif
}

std::optional<CPairRecord> CPairRecordFile::Load() const {
  std::ifstream file(m_strPath, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text(kRecordMaxBytes + 1, '\0');
  file.read(&text[0], kRecordMaxBytes + 1);
  if (file.gcount() > kRecordMaxBytes) return std::nullopt;
  text.resize(static_cast<size_t>(file.gcount()));
  std::istringstream lines(text);
  std::string masterKey, masterText, slaveKey, slaveText;
  lines >> masterKey >> masterText >> slaveKey >> slaveText;
  const std::optional<CModuleAddress> master = CModuleAddress::Parse(masterText);
  const std::optional<CModuleAddress> slave = CModuleAddress::Parse(slaveText);
  if (masterKey != "master" || slaveKey != "slave" || !master || !slave) return std::nullopt;
  return CPairRecord{*master, *slave};
}

bool CPairRecordFile::Save(const CPairRecord& record, std::string* error) const {
  std::error_code made;
  // A folder made here is the user's alone; one that was there is left as the user keeps it.
  if (fs::create_directories(m_strFolder, made)) {
    fs::permissions(m_strFolder, fs::perms::owner_all, fs::perm_options::replace, made);
  }
  if (made) {
    *error = "cannot make " + m_strFolder + ": " + made.message();
    return false;
  }
  CAtomicFile file;
  return file.Open(m_strPath, error) &&
         file.Append("master " + record.m_master.Text() + "\nslave " + record.m_slave.Text() +
                     "\n") &&
         file.Commit(error);
}

void CPairRecordFile::Remove() const {
  std::remove(m_strPath.c_str());
}
