// How the ledger's rows come back from either engine: the column lists its statements select
// and the reading of one row into the ledger's types. Shared by the ledger's logic and its
// dashboard queries, so a column is named and read in one place.
#pragma once

#include <optional>
#include <string>

#include "ledger/Ledger.h"
#include "ledger/SqlConnection.h"

namespace ledger_sql {

extern const char* const kModuleColumns;
// The attempt's columns in the order AttemptFrom reads them; kAttemptColumnCount of them.
extern const char* const kAttemptColumns;
constexpr size_t kAttemptColumnCount = 21;
// kAttemptColumns as a SELECT reads them from a ledger of this schema version: one from before
// the pace had columns of its own kept it in the notes ("pace fast", "pace
// fast\xE2\x86\x92standard"), read as the step that brings such a ledger forward would set them.
std::string AttemptColumnsOf(int schema);

// A number column (0 when absent) and a text column (empty when absent).
long long Number(const std::optional<std::string>& text);
std::string Text(const std::optional<std::string>& text);
CLedgerValues ValuesAt(const CSqlRow& row, size_t first);
void ModuleFrom(const CSqlRow& row, CLedgerModule* module);
// An attempt from the first kAttemptColumnCount columns of row, selected as kAttemptColumns.
CLedgerAttempt AttemptFrom(const CSqlRow& row);

}  // namespace ledger_sql
