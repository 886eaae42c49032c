// A file of lines that others read while it grows (the station's events, JSON lines).
//
// Open takes what platform/FilePolicy.h allows for appending: a regular file or a name with
// nothing there yet; a link at the name is refused, never followed, and a FIFO, device, socket
// or folder is refused without being opened. A new file gives others no access. A file that
// ends in a line cut short (a run killed in the middle of a write, a full disk under an older
// build) gets its newline first, so the next line starts on a line of its own; cutting the
// fragment off instead would lose bytes that are not ours to judge.
//
// Each line is written whole or not at all: one write of the whole line, and when the system
// takes only part of it (the disk is full), the file is cut back to where the line began.
//
// Contract: the writer is for one thread at a time; every call blocks on the disk only.
#pragma once

#include <functional>
#include <string>

// Writes one line, newline included; false once the file took it not, and from then on.
using CLineWriter = std::function<bool(const std::string& line)>;

// The writer for path, or null with the reason in *error (a phrase without the path).
CLineWriter OpenLineFile(const std::string& path, std::string* error);
