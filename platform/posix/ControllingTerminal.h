// The calling process's controlling terminal: the terminal the user typed the command in.
// Opened as a serial port it would get the probe bytes and be left raw, so neither the POSIX
// CommApi nor the command line takes it.
#pragma once

#include <string>

// True when path names the controlling terminal of the calling process: /dev/tty itself, or
// the terminal device it stands for (/dev/pts/3, say, or a link to it), compared by device
// number. False when the process has no controlling terminal, and for a path that is absent or
// no character device. Opens /dev/tty, never path itself, so no serial port's modem lines rise.
// Needs Linux's TIOCGDEV to see which device /dev/tty stands for; without it only /dev/tty
// itself is recognised (CPosixCommApi::CreateFileA still refuses the terminal by its session).
bool IsControllingTerminal(const std::string& path);
