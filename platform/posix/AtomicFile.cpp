#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

// A replaced file keeps who may read it. The owner and group go first: changing them clears
// the set-id bits, and a copy that cannot keep the owner must not keep those bits either.
void TakeOwnAttributes(int fd, const struct stat& existing) {
  mode_t mode = existing.st_mode & 07777;
  if (fchown(fd, existing.st_uid, existing.st_gid) != 0) mode &= ~(S_ISUID | S_ISGID);
  fchmod(fd, mode);
}

}  // namespace

CAtomicFile::~CAtomicFile() {
  Discard();
}

bool CAtomicFile::IsOpen() const {
  return m_handle >= 0;
}

bool CAtomicFile::Open(const std::string& target, std::string* error) {
  Discard();
  const std::string why = CheckWriteTarget(target, EWriteUse::Replace);
  if (!why.empty()) {
    *error = ShownPath(target) + " " + why;
    return false;
  }
  std::string folder, name;
  SplitPath(target, &folder, &name);
  struct stat existing {};
  // The file itself, never a link's target: a link at the name lends no mode.
  const bool replaces = lstat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  for (int tries = 0; tries < 16; ++tries) {
    const std::string temporary = folder + "/." + name + "." + RandomSuffix();
    // O_EXCL with O_CREAT never follows a link, even a dangling one; O_NOFOLLOW says so twice.
    // 0660: a report or profile may hold PINs; the umask decides the group's part.
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      *error = "cannot create a file in " + ShownPath(folder) + ": " + std::strerror(errno);
      return false;
    }
    if (replaces) TakeOwnAttributes(fd, existing);
    m_handle = fd;
    m_strTarget = target;
    m_strTemporary = temporary;
    return true;
  }
  *error = "cannot create a file in " + folder + ": every name tried was taken";
  return false;
}

bool CAtomicFile::Append(const std::string& text) {
  return IsOpen() && WriteAll(static_cast<int>(m_handle), text);
}

void CAtomicFile::Keep() {
  if (IsOpen()) close(static_cast<int>(m_handle));
  m_handle = -1;
  m_strTemporary.clear();
}

bool CAtomicFile::Commit(std::string* error) {
  if (!IsOpen()) return false;
  const int fd = static_cast<int>(m_handle);
  if (fsync(fd) != 0) {
    *error = std::strerror(errno);
    Discard();
    return false;
  }
  close(fd);
  m_handle = -1;
  // Looked at once more: a device put at the name since Open must not be replaced.
  const std::string why = CheckWriteTarget(m_strTarget, EWriteUse::Replace);
  if (!why.empty()) {
    *error = ShownPath(m_strTarget) + " " + why;
    Discard();
    return false;
  }
  if (rename(m_strTemporary.c_str(), m_strTarget.c_str()) != 0) {
    *error = std::strerror(errno);
    unlink(m_strTemporary.c_str());
    return false;
  }
  m_strTemporary.clear();
  // The rename itself lasts only once the folder's entry is on the disk.
  std::string folder, name;
  SplitPath(m_strTarget, &folder, &name);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

void CAtomicFile::Discard() {
  if (m_handle >= 0) close(static_cast<int>(m_handle));
  m_handle = -1;
  if (!m_strTemporary.empty()) unlink(m_strTemporary.c_str());
  m_strTemporary.clear();
}
