#include <windows.h>

#include <cctype>

#include "platform/FilePolicy.h"

namespace {

// The file's volume and index, read through a handle that asks for no access at all: it opens
// a folder too (backup semantics) and follows links, so two names of one file agree.
std::string HandleIdentity(const std::string& path) {
  const HANDLE file =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!known) return std::string();
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
         ":" + std::to_string(info.nFileIndexLow);
}

}  // namespace

std::string CheckWriteTarget(const std::string& path, EWriteUse use) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (name.empty() || name == "." || name == "..") return "is a folder, not a file";
  // \\.\COM6 and \\?\... reach devices and the raw namespace, never a plain file.
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0 ||
      path.rfind("\\\\?\\", 0) == 0) {
    return "is a device, not a file";
  }
  if (IsReservedDeviceName(name)) return "is a name Windows keeps for a device, not a file";
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::string();
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && use == EWriteUse::Append) {
    return "is a link; corvane writes through none";
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "is a folder, not a file";
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return "is a device, not a file";
  return std::string();
}

std::string FileIdentity(const std::string& path) {
  const std::string itself = HandleIdentity(path);
  if (!itself.empty()) return itself;
  std::string folder, name;
  SplitPath(path, &folder, &name);
  const std::string held = HandleIdentity(folder);
  if (held.empty()) return std::string();
  // Names differ by case only in the eyes of a program, not of the file system.
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return held + "/" + name;
}
