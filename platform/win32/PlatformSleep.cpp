#include "protocol/Sleep.h"

void PlatformSleep(DWORD ms) {
  ::Sleep(ms);
}
