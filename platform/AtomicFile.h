// A file that appears at its path in one step, complete, or not at all.
//
// Open creates a temporary file with a fresh random name beside the target (".NAME.XXXXXX"),
// exclusively: it never opens or follows anything already there, so a link planted at a
// predictable name cannot redirect the write. Text appended is written through at once, so a
// process killed before Commit leaves what it had in the temporary file. Commit flushes the
// file to the disk, renames it over the target and flushes the folder. The target is what
// platform/FilePolicy.h allows: a file it replaces keeps its own mode (and owner and group
// where the user may give them); a link at the name is replaced, never followed; a new file
// gives others no access. Destroying the object before Commit removes the temporary file.
//
// Contract: not thread-safe; every call blocks on the disk only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/FilePolicy.h"

class CAtomicFile {
 public:
  CAtomicFile() = default;
  ~CAtomicFile();
  CAtomicFile(const CAtomicFile&) = delete;
  CAtomicFile& operator=(const CAtomicFile&) = delete;

  // False with the reason in *error, one line naming the target or its folder: the folder is
  // missing or not writable, or the target is no file (platform/FilePolicy.h).
  bool Open(const std::string& target, std::string* error);
  bool Append(const std::string& text);
  bool Commit(std::string* error);
  // Closes the temporary file and leaves it where it is, with what was appended.
  void Keep();
  bool IsOpen() const;
  const std::string& TemporaryPath() const { return m_strTemporary; }

 private:
  void Discard();

  std::string m_strTarget;
  std::string m_strTemporary;
  // A POSIX descriptor or a Windows handle.
  intptr_t m_handle = -1;
};
