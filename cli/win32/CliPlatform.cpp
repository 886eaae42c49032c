#include "cli/CliPlatform.h"

#include <windows.h>

#include <io.h>
#include <stdio.h>

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

// Windows opens serial ports by their COM names.
DevicePathOpener PlatformDevicePaths() {
  return DevicePathOpener();
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
