#include "engine/os/Platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ledger/Ledger.h"
#include "platform/posix/ControllingTerminal.h"
#include "platform/posix/PosixCommApi.h"

bool StderrIsTerminal() {
  const char* term = std::getenv("TERM");
  return isatty(STDERR_FILENO) == 1 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

int StderrTerminalRows() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

int StderrTerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

void WriteStderrRaw(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}

bool WriteStdoutRaw(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

std::string DeviceIdentity(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::string();
  // A device node is its device number: two nodes made for one device are one port too.
  if (S_ISCHR(st.st_mode))
    return "char " + std::to_string(static_cast<unsigned long long>(st.st_rdev));
  return "file " + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(st.st_ino));
}

bool IsOwnTerminal(const std::string& path) {
  struct stat device {};
  struct stat generic {};
  // /dev/tty means the caller's terminal even in a process that has none (a cron job's).
  if (stat(path.c_str(), &device) == 0 && S_ISCHR(device.st_mode) &&
      stat("/dev/tty", &generic) == 0 && device.st_rdev == generic.st_rdev) {
    return true;
  }
  return IsControllingTerminal(path);
}

DevicePathOpener PlatformDevicePaths() {
  return [](const std::string& path) -> std::unique_ptr<CommApi> {
    return std::make_unique<CPosixCommApi>(CDeviceNamespace::FromMap({{1, path}}));
  };
}

namespace {

bool ReadAll(int fd, size_t maxBytes, const CInterrupt& interrupt, std::string* text,
             std::string* error) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      // Ctrl-C ends a read of the standard input with EINTR (no SA_RESTART).
      if (errno == EINTR && !interrupt.IsSet()) continue;
      *error = errno == EINTR ? "interrupted" : std::strerror(errno);
      return false;
    }
    text->append(buffer, static_cast<size_t>(got));
    if (text->size() > maxBytes) {
      *error = "larger than " + std::to_string(maxBytes >> 20) + " MB";
      return false;
    }
  }
}

}  // namespace

bool ReadSmallFile(const std::string& path, size_t maxBytes, const CInterrupt& interrupt,
                   std::string* text, std::string* error) {
  text->clear();
  if (path == "-") return ReadAll(STDIN_FILENO, maxBytes, interrupt, text, error);
  // Non-blocking, so that opening a FIFO without a writer returns at once.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  bool ok = fstat(fd, &info) == 0;
  if (!ok) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    *error = path + " is a folder, not a file";
    ok = false;
  } else if (!S_ISREG(info.st_mode)) {
    *error = path + " is not a regular file";
    ok = false;
  } else if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
    *error = path + " is larger than " + std::to_string(maxBytes >> 20) + " MB";
    ok = false;
  } else {
    ok = ReadAll(fd, maxBytes, interrupt, text, error);
    if (!ok) *error = path + ": " + *error;
  }
  close(fd);
  return ok;
}

std::thread StartWorkerThread(std::function<void()> work) {
  sigset_t user, previous;
  sigemptyset(&user);
  sigaddset(&user, SIGINT);
  sigaddset(&user, SIGTERM);
  sigaddset(&user, SIGHUP);
  // A new thread inherits the mask of the thread that makes it.
  pthread_sigmask(SIG_BLOCK, &user, &previous);
  try {
    std::thread thread(std::move(work));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    throw;
  }
}

std::string HostName() {
  char name[256] = {};
  // A name longer than the buffer comes back cut and perhaps unterminated.
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "station";
  return name;
}

void HideLocationPasswords(int argc, char** argv) {
  constexpr const char* kJoined = "--ledger=";
  for (int i = 1; i < argc; ++i) {
    char* url = argv[i];
    if (std::strncmp(url, kJoined, std::strlen(kJoined)) == 0) url += std::strlen(kJoined);
    if (!IsPostgresLocation(url)) continue;
    const std::string shown = RedactLocation(url);
    // The arguments' memory cannot grow: a password shorter than the mask cuts the shown text
    // short instead. What is left over becomes NULs, so no byte of the password stays.
    const size_t length = std::strlen(url);
    const size_t kept = std::min(shown.size(), length);
    std::memcpy(url, shown.data(), kept);
    std::memset(url + kept, 0, length - kept);
  }
}
