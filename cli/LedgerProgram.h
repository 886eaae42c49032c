// `corvane program` with a ledger: the module is always read first (its own address keys the
// ledger), then programmed with the values of its turn (new: bound to the next number with the
// options' values over the profile's, where --name and --pin may hold {seq}, {seq:0N}, {addr}
// and {addr4}; seen before: its number and recorded values; already programmed: left alone),
// and the attempt is recorded when it ends. A dry run reads the module and shows its turn (the
// number it has, or the one it would get now, and the values) without binding, sending or
// recording anything; a ledger file that does not exist is not created for it.
//
// Contract: the ledger is opened before any port: a ledger that cannot be used is one line
// on err and kExitLedger with no byte sent. A refusal of the ledger (a name it holds for
// another module) comes before any byte is written: kExitUsage. A ledger lost while the module
// was programmed leaves the module's result as it is, names the attempt on err and returns
// kExitLedger.
#pragma once

#include "cli/ModuleRun.h"

int RunProgramWithLedger(const CModuleOptions& options, const CSettingChanges& profile,
                         CRunEnv& env);
