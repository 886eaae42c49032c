#include "cli/CliPlatform.h"

#include <unistd.h>

#include <cstdio>

#include "platform/posix/PosixCommApi.h"

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

DevicePathOpener PlatformDevicePaths() {
  return [](const std::string& path) -> std::unique_ptr<CommApi> {
    return std::make_unique<CPosixCommApi>(CDeviceNamespace::FromMap({{1, path}}));
  };
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}
