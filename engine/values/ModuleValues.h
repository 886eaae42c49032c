// The values a module of a gang or a station gets: what it holds, under the options' values
// with their templates filled in for its number and address, under its row of the plan.
#pragma once

#include <string>

#include "engine/values/RunChoices.h"
#include "engine/values/Plan.h"
#include "engine/values/Settings.h"

enum class EValues { Ok, NotInPlan, Refused };

// The values the module on port, read to hold read (null when it was not read), gets as
// number: Ok with *values, NotInPlan when a plan is given and has no row for its address, or
// Refused with the rule broken in *error. *named tells a name the options or the plan set from
// one the module merely keeps.
EValues MakeModuleValues(const CSettingChoice& settings, const CPlan* plan, const std::string& port,
                         const CModuleSettings* read, long long number, CModuleSettings* values,
                         bool* named, std::string* error);

// The name and PIN templates held to the rules as far as they can be before any module is
// read: as module number last, and for several modules a name that tells them apart. Empty,
// or the rule broken.
std::string CheckValueTemplates(const CSettingChoice& settings, long long last, bool several);
