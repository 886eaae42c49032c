// A plan: what each module gets, by its own address, from a CSV file with the header
// "address,name,pin,role,peer" (the columns after address optional, in any order).
#pragma once

#include <map>
#include <string>

#include "engine/os/Interrupt.h"
#include "engine/values/Settings.h"

// What a module with this address gets; absent cells keep the value the command line or the
// module gives.
using CPlanRow = CSettingChanges;
// Plan rows by address (12 upper-case hex digits).
using CPlan = std::map<std::string, CPlanRow>;

// The largest plan file read; more is refused rather than read without end (/dev/zero).
constexpr size_t kPlanMaxBytes = 4u << 20;

// Reads CSV text (a UTF-8 byte-order mark is skipped). False with the line and the rule broken
// in *error.
bool ParsePlan(const std::string& text, CPlan* plan, std::string* error);
// Reads and parses the plan at path: a regular file, or "-" for the standard input, of at most
// kPlanMaxBytes. Never blocks on a FIFO without a writer; reading the standard input ends when
// the user interrupts. False with the reason in *error.
bool LoadPlan(const std::string& path, const CInterrupt& interrupt, CPlan* plan,
              std::string* error);
