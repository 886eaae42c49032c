// `--options-file FILE`: a command's options kept in a file, one a line, as they would be
// typed on the command line. A service manager starts the station with it and no shell between
// (systemd's corvane-station@.service reads /etc/corvane/station-NAME.conf).
//
// A line is one option and its value: `--ports /dev/ttyUSB0,/dev/ttyUSB1`. Words are parted by
// blanks; '...' quotes as it is, "..." quotes with \" and \\ for " and \ inside; a backslash
// elsewhere is itself (a Windows path needs no quoting). Blank lines are skipped, and a word
// that begins with # begins a comment to the end of the line.
//
// The file's options are read in its place among the arguments: an option the file gives
// replaces the same option given before `--options-file`, and one given after it replaces the
// file's. So a caller's defaults go first and a line's own choices win.
//
// Contract: reads the file through ReadSmallFile (a regular file, never a device or a FIFO)
// before anything else of the run; a bad line is one message naming the file and the line.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "engine/os/Interrupt.h"

// The option's name, as the commands that take it spell it.
extern const char kOptionsFileOption[];
// The longest line a file may hold, in bytes.
constexpr size_t kOptionsLineMax = 4096;

// The arguments the text of an options file gives command: true with them appended to *args,
// or false with "line N: why" in *error.
bool ReadOptionLines(const CLI::App& command, const std::string& text,
                     std::vector<std::string>* args, std::string* error);

// Puts the file's options in the place of `--options-file FILE` among args (a command's
// arguments after its name), as the header says. False with one line in *error when the file
// cannot be read or a line of it is bad; args are then as they were.
bool ExpandOptionsFile(const CLI::App& command, const CInterrupt& interrupt,
                       std::vector<std::string>* args, std::string* error);
