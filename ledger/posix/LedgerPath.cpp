#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ledger/LedgerPath.h"

namespace {

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool CheckLedgerPath(const std::string& path, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *error = "is a folder, not a ledger file";
    } else if (!S_ISREG(st.st_mode)) {
      *error = "is not a regular file";
    } else if (access(path.c_str(), R_OK) != 0) {
      *error = std::string("cannot be read (") + strerror(errno) + ")";
    } else if (access(path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0) {
      // No write bit at all is a file someone made read-only on purpose; root could still
      // write it, and must not.
      *error = "the file is read-only";
    } else {
      return true;
    }
    return false;
  }
  if (errno != ENOENT) {
    *error = std::string("cannot be opened (") + strerror(errno) + ")";
    return false;
  }
  const std::string folder = Folder(path);
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "the folder " + folder + " does not exist";
    return false;
  }
  if (access(folder.c_str(), W_OK) != 0) {
    *error = "cannot create the file in " + folder + " (" + strerror(errno) + ")";
    return false;
  }
  return true;
}

std::string SystemErrorText(int code) {
  return strerror(code);
}
