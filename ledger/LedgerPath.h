// The ledger file's place on disk, one implementation per platform (ledger/posix,
// ledger/win32): the checks SQLite makes late or not at all, and the making of a new file.
// SQLite opens by name, follows links, opens a read-only file for reading without a word,
// reports a missing folder as "unable to open database file", and gives a new file the
// permissions of any other file.
//
// Contract (POSIX; the Win32 side checks what Windows lets it see: links, read-only files):
// - Prepare refuses a link at the path (never followed), anything but a regular file, a file
//   anyone may write, a file in a folder anyone may write without the sticky bit, and a file
//   of another user (neither this one nor root) in a sticky folder anyone may write. For
//   writing it refuses a read-only file and, where the file is not there, makes it (readable
//   and writable by the owner and, as the umask allows, the group; never others). For
//   reading a missing file is refused; nothing is made.
// - Verify, once SQLite has the file open, checks that the path still names the file
//   Prepare looked at.
// - Discard removes a file Prepare made, and SQLite's -wal and -shm beside it: a refused
//   open leaves nothing behind.
#pragma once

#include <string>

#include "ledger/Ledger.h"

class CLedgerPath {
 public:
  CLedgerPath(std::string path, ELedgerAccess access)
      : m_strPath(std::move(path)), m_eAccess(access) {}

  // False with what is wrong in *error (one line, without the path).
  bool Prepare(std::string* error);
  bool Verify(std::string* error) const;
  void Discard();

  // For a read that SQLite refused: the one line saying that its write-ahead log needs a
  // -shm file that this user cannot make, or empty when that is not the reason.
  std::string SharedMemoryProblem() const;

 private:
  std::string m_strPath;
  ELedgerAccess m_eAccess;
  bool m_bMade = false;
  unsigned long long m_nDevice = 0;
  unsigned long long m_nInode = 0;
};

// The system's text for an error number that SQLite reports (sqlite3_system_errno).
std::string SystemErrorText(int code);
