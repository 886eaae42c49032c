// The words every presenter of a station shares (the terminal's board, a web page, the end of
// the run), so that a slot reads the same wherever it is shown.
#pragma once

#include <string>

#include "engine/events/EngineEvent.h"

// A slot's state where it needs saying ("no port", "busy: another program holds it"); empty for
// the states a slot's own steps show (reading, programming, done).
const char* SlotStateText(ESlotState state);
// "ok 12  failed 1  already programmed 2  310 modules per hour".
std::string StationSummary(const CRunCounts& counts);
// Why an attempt failed, on one line: "communication error: ...", "verify differs: name, pin".
std::string FailureText(const CModuleReport& report);
// The name the module is known to hold after its attempt (read, or acknowledged); empty when
// none is known. A name only sent is not known.
std::string KnownName(const CModuleReport& report);
// The text a slot shows once its module's attempt ended: "OK BT-0007", "FAILED ...".
std::string AttemptResult(const CAttemptEnded& ended);
