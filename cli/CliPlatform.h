// What the command line needs of the operating system beyond the serial calls.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "serial/CommApi.h"

// True when the standard error stream is a terminal (a progress bar can be redrawn there).
bool StderrIsTerminal();
using DevicePathOpener = std::function<std::unique_ptr<CommApi>(const std::string& path)>;
// Makes a channel whose only port, "COM1", is the device at a path; empty where the platform
// opens ports by name only.
DevicePathOpener PlatformDevicePaths();
// Puts the finished file from in place of to in one step, so a reader never sees half a file.
bool ReplaceFile(const std::string& from, const std::string& to);
