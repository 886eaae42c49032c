// `corvane station`: a continuous gang for a production bench. Slots take one module after
// another as an operator puts them on and takes them off; each slot is a worker like gang's,
// with the ledger as the station's memory, an operator's view on stderr and JSON-line events
// for other programs.
//
// Contract: RunStation checks the options, the plan, the labels, the ledger and the events
// file before any port is opened. It runs until the user interrupts (130), --count modules
// are ok, nothing arrives for --idle-exit seconds, or the ledger or the events are lost (4,
// 74); modules under way finish first, and every port is closed before it returns.
#pragma once

#include "engine/os/RunEnv.h"
#include "cli/station/StationOptions.h"

CLI::App* AddStationCommand(CLI::App& app, CStationOptions& options, bool pathsAllowed);
int RunStation(const CStationOptions& options, CRunEnv& env);
