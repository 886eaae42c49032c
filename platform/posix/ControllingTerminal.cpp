#include "ControllingTerminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The device /dev/tty stands for. TIOCGDEV answers in the kernel's own encoding of a device
// number (minor's low byte, major, then the minor's high bits), which is not glibc's dev_t.
bool TerminalBehind(int ttyFd, dev_t* device) {
#ifdef TIOCGDEV
  unsigned int encoded = 0;
  if (ioctl(ttyFd, TIOCGDEV, &encoded) != 0) return false;
  *device = makedev((encoded & 0xfff00u) >> 8, (encoded & 0xffu) | ((encoded >> 12) & 0xfff00u));
  return true;
#else
  (void)ttyFd;
  (void)device;
  return false;
#endif
}

}  // namespace

bool IsControllingTerminal(const std::string& path) {
  struct stat target;
  if (stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return false;
  // Opening /dev/tty fails (ENXIO) exactly when the process has no controlling terminal.
  const int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat tty;
  bool same = fstat(fd, &tty) == 0 && tty.st_rdev == target.st_rdev;
  dev_t behind = 0;
  if (!same && TerminalBehind(fd, &behind)) same = behind == target.st_rdev;
  close(fd);
  return same;
}
