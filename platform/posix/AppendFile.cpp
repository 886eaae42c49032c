#include "platform/AppendFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/FilePolicy.h"

namespace {

// A file that ends in a part of a line gets the newline that part was missing.
bool MendLastLine(int fd, off_t size) {
  if (size == 0) return true;
  char last = '\n';
  if (pread(fd, &last, 1, size - 1) != 1) return false;
  if (last == '\n') return true;
  return write(fd, "\n", 1) == 1;
}

bool WriteWhole(int fd, const std::string& line) {
  const off_t start = lseek(fd, 0, SEEK_END);
  if (start < 0) return false;
  ssize_t wrote = -1;
  do {
    wrote = write(fd, line.data(), line.size());
  } while (wrote < 0 && errno == EINTR);
  if (wrote == static_cast<ssize_t>(line.size())) return true;
  // Part of a line is worse than none: a reader would glue the next line onto it.
  if (wrote > 0 && ftruncate(fd, start) != 0) return false;
  return false;
}

}  // namespace

CLineWriter OpenLineFile(const std::string& path, std::string* error) {
  *error = CheckWriteTarget(path, EWriteUse::Append);
  if (!error->empty()) return nullptr;
  // O_NONBLOCK only for the open: a FIFO put there meanwhile is refused, not waited on.
  // Read access for the last byte of a file that may end in a fragment.
  const int fd =
      open(path.c_str(),
           O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK, 0660);
  if (fd < 0) {
    *error = errno == ELOOP   ? "is a link; corvane writes through none"
             : errno == ENXIO ? "is a FIFO, not a file"
                              : std::string("cannot be opened: ") + std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = "is not a regular file";
  } else if (!MendLastLine(fd, info.st_size)) {
    *error = std::string("cannot end its last line: ") + std::strerror(errno);
  }
  if (!error->empty()) {
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  auto owned = std::shared_ptr<int>(new int(fd), [](int* held) {
    close(*held);
    delete held;
  });
  auto broken = std::make_shared<bool>(false);
  return [owned, broken](const std::string& line) {
    if (!*broken && !WriteWhole(*owned, line)) *broken = true;
    return !*broken;
  };
}
