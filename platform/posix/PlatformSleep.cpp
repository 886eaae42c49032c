#include <cerrno>
#include <ctime>

#include "protocol/Sleep.h"

void PlatformSleep(DWORD ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  // A signal cuts nanosleep short; sleep out the rest.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
