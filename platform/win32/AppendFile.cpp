#include "platform/AppendFile.h"

#include <windows.h>

#include <memory>

#include "platform/FilePolicy.h"

namespace {

bool MoveToEnd(HANDLE file, LARGE_INTEGER* end) {
  LARGE_INTEGER zero{};
  return SetFilePointerEx(file, zero, end, FILE_END) != 0;
}

bool MendLastLine(HANDLE file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return false;
  if (size.QuadPart == 0) return true;
  LARGE_INTEGER last{};
  last.QuadPart = size.QuadPart - 1;
  char byte = '\n';
  DWORD got = 0;
  if (!SetFilePointerEx(file, last, nullptr, FILE_BEGIN) ||
      !ReadFile(file, &byte, 1, &got, nullptr) || got != 1) {
    return false;
  }
  DWORD wrote = 0;
  return byte == '\n' ||
         (MoveToEnd(file, &size) && WriteFile(file, "\n", 1, &wrote, nullptr) && wrote == 1);
}

bool WriteWhole(HANDLE file, const std::string& line) {
  LARGE_INTEGER start{};
  if (!MoveToEnd(file, &start)) return false;
  DWORD wrote = 0;
  if (WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr) &&
      wrote == line.size()) {
    return true;
  }
  // Part of a line is worse than none: a reader would glue the next line onto it.
  if (wrote > 0 && SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) SetEndOfFile(file);
  return false;
}

}  // namespace

CLineWriter OpenLineFile(const std::string& path, std::string* error) {
  *error = CheckWriteTarget(path, EWriteUse::Append);
  if (!error->empty()) return nullptr;
  // The reparse flag opens a link itself rather than what it names, so that it can be refused.
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot be opened: error " + std::to_string(GetLastError());
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    *error = "is not a regular file";
  } else if (!MendLastLine(file)) {
    *error = "cannot end its last line: error " + std::to_string(GetLastError());
  }
  if (!error->empty()) {
    CloseHandle(file);
    return nullptr;
  }
  const std::shared_ptr<void> owned(file, [](HANDLE held) { CloseHandle(held); });
  auto broken = std::make_shared<bool>(false);
  return [owned, broken](const std::string& line) {
    if (!*broken && !WriteWhole(owned.get(), line)) *broken = true;
    return !*broken;
  };
}
