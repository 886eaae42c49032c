// What every parser target checks beside the sanitizers: an invariant broken ends the run
// with its name, so libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// A refusal is one line a terminal shows as it is: printable ASCII, whatever the input held.
inline bool IsOnePrintableLine(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}
