#include "ledger/LedgerPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool AnyoneMayWrite(const struct stat& st) {
  return (st.st_mode & S_IWOTH) != 0;
}

// A folder anyone may write lets anyone rename, remove or replace the files in it, unless its
// sticky bit keeps each file to its owner.
std::string FolderRisk(const struct stat& folder, const std::string& name) {
  if (!AnyoneMayWrite(folder) || (folder.st_mode & S_ISVTX)) return std::string();
  return "anyone may replace it: the folder " + name +
         " may be written by anyone and has no sticky bit";
}

// What makes an existing file unfit to be the ledger: its kind, who else may write it, or
// what this user may not do with it. Empty when it is fit.
std::string ExistingRisk(const std::string& path, const struct stat& st, const struct stat& folder,
                         const std::string& folderName, ELedgerAccess mode) {
  if (S_ISLNK(st.st_mode)) return "is a link; a ledger is never opened through one";
  if (S_ISDIR(st.st_mode)) return "is a folder, not a ledger file";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (AnyoneMayWrite(st)) {
    return "anyone may write the file (mode " + Octal(st.st_mode) + "); take that away first";
  }
  std::string risk = FolderRisk(folder, folderName);
  if (!risk.empty()) return risk;
  // In /tmp and its like anyone may have made the file first and may rewrite it later; root
  // is the one other owner who could not have been anyone.
  if (AnyoneMayWrite(folder) && st.st_uid != geteuid() && st.st_uid != 0) {
    return "the file belongs to another user (uid " + std::to_string(st.st_uid) +
           ") in the folder " + folderName + ", which anyone may write";
  }
  if (access(path.c_str(), R_OK) != 0)
    return std::string("cannot be read (") + strerror(errno) + ")";
  // No write bit at all is a file someone made read-only on purpose; root could still write
  // it, and must not.
  if (mode == ELedgerAccess::Write && (access(path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0))
    return "the file is read-only";
  return std::string();
}

// SQLite opens its journals beside the ledger by name as well, following links: the same
// rules hold for them wherever they are there already.
std::string CompanionRisk(const std::string& path, const struct stat& folder,
                          const std::string& folderName) {
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    struct stat st;
    if (lstat((path + suffix).c_str(), &st) != 0) continue;
    const std::string what = std::string("its ") + suffix + " file";
    if (!S_ISREG(st.st_mode)) return what + " is a link or not a regular file";
    if (AnyoneMayWrite(st)) return "anyone may write " + what;
    if (AnyoneMayWrite(folder) && st.st_uid != geteuid() && st.st_uid != 0) {
      return what + " belongs to another user (uid " + std::to_string(st.st_uid) +
             ") in the folder " + folderName + ", which anyone may write";
    }
  }
  return std::string();
}

}  // namespace

bool CLedgerPath::Prepare(std::string* error) {
  const std::string folderName = Folder(m_strPath);
  struct stat folder, st;
  if (stat(folderName.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
    *error = "the folder " + folderName + " does not exist";
    return false;
  }
  // A new ledger is made here, not by SQLite: O_EXCL and O_NOFOLLOW keep it from landing at a
  // link's target, and its mode keeps others out. Another process making it at the same
  // moment finds it made, and checks it as any existing file.
  if (lstat(m_strPath.c_str(), &st) != 0 && errno == ENOENT && m_eAccess == ELedgerAccess::Write) {
    *error = FolderRisk(folder, folderName);
    if (!error->empty()) return false;
    const int fd =
        open(m_strPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660);
    if (fd >= 0) {
      const bool known = fstat(fd, &st) == 0;
      close(fd);
      m_bMade = known;
      m_nDevice = st.st_dev;
      m_nInode = st.st_ino;
      if (known) {
        // Journals someone left beside a name not made yet would be taken in by SQLite.
        *error = CompanionRisk(m_strPath, folder, folderName);
        if (error->empty()) return true;
        unlink(m_strPath.c_str());
        m_bMade = false;
        return false;
      }
    } else if (errno != EEXIST) {
      *error = "cannot create the file in " + folderName + " (" + strerror(errno) + ")";
      return false;
    }
  }
  if (lstat(m_strPath.c_str(), &st) != 0) {
    *error = errno == ENOENT ? std::string("there is no such file")
                             : std::string("cannot be opened (") + strerror(errno) + ")";
    return false;
  }
  *error = ExistingRisk(m_strPath, st, folder, folderName, m_eAccess);
  if (error->empty()) *error = CompanionRisk(m_strPath, folder, folderName);
  m_nDevice = st.st_dev;
  m_nInode = st.st_ino;
  return error->empty();
}

bool CLedgerPath::Verify(std::string* error) const {
  struct stat st;
  if (lstat(m_strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == m_nDevice &&
      st.st_ino == m_nInode)
    return true;
  *error = "the file was replaced while it was being opened";
  return false;
}

void CLedgerPath::Discard() {
  struct stat st;
  // Only the file made here, and only while the path still names it.
  if (!m_bMade || lstat(m_strPath.c_str(), &st) != 0 || st.st_dev != m_nDevice ||
      st.st_ino != m_nInode)
    return;
  unlink(m_strPath.c_str());
  unlink((m_strPath + "-wal").c_str());
  unlink((m_strPath + "-shm").c_str());
  m_bMade = false;
}

std::string CLedgerPath::SharedMemoryProblem() const {
  struct stat st;
  if (m_eAccess != ELedgerAccess::Read || access(m_strPath.c_str(), W_OK) == 0 ||
      access(Folder(m_strPath).c_str(), W_OK) == 0 || lstat((m_strPath + "-shm").c_str(), &st) == 0)
    return std::string();
  return "cannot be read: SQLite's write-ahead log needs a -shm file beside the ledger, which "
         "only a station that has it open provides, and you may write neither the file nor its "
         "folder to make one";
}

std::string SystemErrorText(int code) {
  return strerror(code);
}
