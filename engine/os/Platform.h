// What the engine and its presenters need of the operating system beyond the serial calls.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/os/RunEnv.h"
#include "engine/os/Interrupt.h"
#include "serial/CommApi.h"

// True when the standard error stream is a terminal that understands cursor movement (a
// progress block can be redrawn there); false for TERM=dumb.
bool StderrIsTerminal();
// The height of that terminal in lines; 0 when it cannot be told.
int StderrTerminalRows();
// Its width in columns; 0 when it cannot be told.
int StderrTerminalColumns();
// True when the standard output is a terminal.
bool StdoutIsTerminal();
// Writes text to the standard error's descriptor itself (see CRunEnv::m_fnRawErr).
void WriteStderrRaw(const std::string& text);
// And to the standard output's (see CRunEnv::m_fnRawOut); false when it did not take it all.
bool WriteStdoutRaw(const std::string& text);
// Makes a channel whose only port, "COM1", is the device at a path; empty where the platform
// opens ports by name only.
DevicePathOpener PlatformDevicePaths();
// True when path is /dev/tty or the terminal this program runs in (never on Windows).
bool IsOwnTerminal(const std::string& path);
// The device a path reaches, whatever names and links lead to it: two paths whose texts are
// equal and not empty open one device (a port and a link to it, two by-path names of one
// adapter). Empty when the path reaches nothing now.
std::string DeviceIdentity(const std::string& path);
// Reads a whole regular file of at most maxBytes, or the standard input for "-". A folder, a
// device or a FIFO is refused without blocking; reading the standard input ends when the user
// interrupts. False with the reason in *error.
bool ReadSmallFile(const std::string& path, size_t maxBytes, const CInterrupt& interrupt,
                   std::string* text, std::string* error);
// The computer's name ("bench-3"); "station" when the system gives none.
std::string HostName();
// A thread that the user's signals (Ctrl-C, SIGTERM, SIGHUP) never interrupt: they go to the
// main thread, whose blocked writes they end. Throws std::system_error like std::thread.
std::thread StartWorkerThread(std::function<void()> work);
// Overwrites the password of every ledger URL among the program's arguments in their own
// memory (what `ps` and /proc/PID/cmdline show), as RedactLocation shows it. The caller keeps
// copies first. Nothing to do on Windows, whose build has no PostgreSQL ledger.
void HideLocationPasswords(int argc, char** argv);
