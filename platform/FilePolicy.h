// What every file corvane writes must be, in one place: a report and its journal, a profile,
// the events, the ledger's file and whatever comes later. The checks run before any port is
// opened, so a run that would have to refuse its output touches no module.
//
// - A target is a regular file, or a name with nothing there yet. A device, a FIFO, a socket
//   or a folder is refused; so, on Windows, is a name the system keeps for a device ("COM6.csv"
//   opens the port COM6, in any folder and with any extension).
// - Nothing is written through a link. A file replaced whole (CAtomicFile) replaces a link at
//   its name, never what the link points to; a file appended to (OpenLineFile) refuses one.
// - A replaced regular file keeps its own mode, and its owner and group where the user may give
//   them; a link in its place lends nothing. New files give others no access: they may hold a
//   PIN. The group's access follows the umask, so operators of one group can share them.
// - One file has one role in a run: CFileRoles compares files by what they are (links
//   resolved), and names not made yet by their folder and name.
//
// Contract: looks only, creates and changes nothing; blocks on the disk only.
#pragma once

#include <string>
#include <utility>
#include <vector>

// How a target is written.
enum class EWriteUse {
  Replace,  // made beside and renamed into place: a link at the name is replaced itself
  Append,   // opened and appended to: a link at the name is refused
};

// Empty when path may be written for use; else why not, as a phrase that follows the path
// ("is a device, not a file"). A missing folder is left to the open, which names it.
std::string CheckWriteTarget(const std::string& path, EWriteUse use);

// True when name (the last part of a path) opens a device on Windows whatever folder it is
// in: CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, CONIN$ and CONOUT$, in any case, before any
// extension and trailing spaces. Tells only; the Windows checks use it.
bool IsReservedDeviceName(const std::string& name);

// What a path names, for telling whether two paths are one file: the file itself with links
// resolved, or for a name not made yet its folder and name. Empty when it cannot be told (the
// folder is missing): such a path matches nothing.
std::string FileIdentity(const std::string& path);

// The files of one run by role ("--plan", "--report", "--ledger", ...).
class CFileRoles {
 public:
  // False with one line in *error ("--report: r.csv is the file of --ledger as well") when
  // path names a file that a role added before names too.
  bool Add(const std::string& role, const std::string& path, std::string* error);

 private:
  std::vector<std::pair<std::string, std::string>> m_identities;  // role, identity
};

// A path as one line of a message: a control character in it is shown as '?'. Backslashes
// stay as they are: they are Windows' own separators.
std::string ShownPath(const std::string& path);
// The folder and the bare name of a path ("." for a bare name).
void SplitPath(const std::string& path, std::string* folder, std::string* name);
// A short random text of letters and digits for temporary names.
std::string RandomSuffix();
