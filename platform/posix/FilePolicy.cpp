#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/FilePolicy.h"

std::string CheckWriteTarget(const std::string& path, EWriteUse use) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (name.empty() || name == "." || name == "..") return "is a folder, not a file";
  struct stat info {};
  // lstat: a link is judged as the link, never by what it points to.
  if (lstat(path.c_str(), &info) != 0) {
    return errno == ENOENT ? std::string() : std::string("cannot be looked at: ") + strerror(errno);
  }
  if (S_ISREG(info.st_mode)) return std::string();
  if (S_ISLNK(info.st_mode)) {
    return use == EWriteUse::Replace ? std::string() : "is a link; corvane writes through none";
  }
  if (S_ISDIR(info.st_mode)) return "is a folder, not a file";
  if (S_ISFIFO(info.st_mode)) return "is a FIFO, not a file";
  if (S_ISSOCK(info.st_mode)) return "is a socket, not a file";
  return "is a device, not a file";
}

std::string FileIdentity(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  }
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (stat(folder.c_str(), &info) != 0) return std::string();
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + "/" + name;
}
