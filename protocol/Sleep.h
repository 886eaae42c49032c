// The protocol's blocking pause in milliseconds. Injectable so that tests can record the
// pauses instead of waiting them out.
#pragma once

#include <functional>

#include "wintypes.h"

using SleepFn = std::function<void(DWORD ms)>;

// Blocks the calling thread in the OS for ms milliseconds.
void PlatformSleep(DWORD ms);
