// The checks of a ledger file's path that SQLite makes late or not at all, one implementation
// per platform (ledger/posix, ledger/win32): SQLite opens a read-only file for reading
// without a word, and reports a missing folder as "unable to open database file".
//
// Contract: looks only; creates and changes nothing.
#pragma once

#include <string>

// True when path names an existing regular file that may be written, or a file that may be
// created in an existing folder. False with what is wrong in *error (one line, without the
// path).
bool CheckLedgerPath(const std::string& path, std::string* error);

// The system's text for an error number that SQLite reports (sqlite3_system_errno).
std::string SystemErrorText(int code);
