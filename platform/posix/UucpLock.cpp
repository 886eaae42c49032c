#include "UucpLock.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The pid in a UUCP lock file: ten ASCII digits and a newline (HDB, most programs), or the
// pid as a binary int (old UUCP). Anything else gives 0.
pid_t LockHolder(const std::string& lockPath) {
  const int fd = open(lockPath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32];
  ssize_t n;
  do {
    n = read(fd, text, sizeof text - 1);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) return 0;
  text[n] = '\0';

  bool ascii = true;
  for (ssize_t i = 0; i < n; ++i) {
    const char c = text[i];
    ascii = ascii && ((c >= '0' && c <= '9') || c == ' ' || c == '\t' || c == '\n');
  }
  if (!ascii) {
    if (n != sizeof(int)) return 0;
    int pid = 0;
    std::memcpy(&pid, text, sizeof pid);
    return pid > 0 ? static_cast<pid_t>(pid) : 0;
  }
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  long long pid = 0;
  for (; *p >= '0' && *p <= '9' && pid <= INT_MAX; ++p) pid = pid * 10 + (*p - '0');
  return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

// A lock whose process has ended is stale: the program died without removing it. EPERM means
// the process runs under another user.
bool IsRunning(pid_t pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace

// Terminal programs (minicom, picocom, cu) name the lock after the device they opened, which
// may be a symlink to the one we were given or the other way round: try both names.
bool IsLockedByUucp(const std::string& lockDir, const std::string& path) {
  if (lockDir.empty()) return false;
  std::string names[2] = {BaseName(path), std::string()};
  if (char* real = realpath(path.c_str(), nullptr)) {
    names[1] = BaseName(real);
    free(real);
  }
  for (const std::string& name : names) {
    if (name.empty() || name == "." || name == "..") continue;
    if (IsRunning(LockHolder(lockDir + "/LCK.." + name))) return true;
  }
  return false;
}
