// UUCP lock files, the oldest way Linux serial programs claim a port: a file LCK..<device> in
// the lock directory (normally /var/lock) holding the holder's pid, as ten ASCII digits and a
// newline (HDB, most programs) or as a binary int (old UUCP). Only read here, never written.
#pragma once

#include <string>

// True when a lock file in lockDir names the device at path, under its own name or, behind a
// symlink such as /dev/serial/by-id/..., under the real device's name, and holds the pid of a
// running process (of any user). A lock of a process that has ended is stale and does not
// count, nor does one whose content is no pid. An empty lockDir looks for nothing.
bool IsLockedByUucp(const std::string& lockDir, const std::string& path);
