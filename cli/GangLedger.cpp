#include "cli/GangLedger.h"

#include <map>

#include "cli/CliEnv.h"
#include "cli/Settings.h"

namespace {

// The ledger's key of the worker's module; empty when it was not read or has no address.
std::string AddressOf(const CWorker& worker) {
  return worker.m_report.m_read ? LedgerAddress(worker.m_report.m_read->m_strAddress)
                                : std::string();
}

}  // namespace

std::unique_ptr<CGangLedger> CGangLedger::Open(const CLedgerOptions& options,
                                               const long long* start, std::string* error,
                                               int* code) {
  std::unique_ptr<CLedgerRun> run = CLedgerRun::Open(options, error);
  if (!run) {
    *code = kExitLedger;
    return nullptr;
  }
  std::unique_ptr<CGangLedger> gang(new CGangLedger(std::move(run), options.m_bOnlyFailed));
  CLedgerError failure;
  if (start != nullptr && !gang->m_pRun->Ledger().SetStart(*start, &failure)) {
    gang->Failed(failure, error, code);
    *error = "--start: " + *error;
    return nullptr;
  }
  return gang;
}

bool CGangLedger::Failed(const CLedgerError& failure, std::string* error, int* code) {
  if (failure.m_bUnavailable) m_pRun->Lose(failure);
  *error = failure.m_strText;
  *code = failure.m_bUnavailable ? kExitLedger : kExitUsage;
  return false;
}

bool CGangLedger::NextNumber(long long* next, std::string* error, int* code) {
  CLedgerError failure;
  return m_pRun->Ledger().NextNumber(next, &failure) || Failed(failure, error, code);
}

bool CGangLedger::CheckNames(std::vector<CWorker>& workers, const CMaker& make, long long next,
                             std::string* error, int* code) {
  CLedger& ledger = m_pRun->Ledger();
  std::map<std::string, std::string> names;      // name set -> port that gets it
  std::map<std::string, std::string> addresses;  // address -> port of the module
  for (CWorker& worker : workers) {
    const std::string address = AddressOf(worker);
    if (address.empty()) continue;
    // Two modules with one address would be one module to the ledger, and get one name.
    const auto seen = addresses.emplace(address, worker.m_strShown);
    if (!seen.second) {
      *error = Printable(seen.first->second) + " and " + Printable(worker.m_strShown) +
               " hold modules with the same address " + address +
               ", which the ledger cannot tell apart";
      *code = kExitUsage;
      return false;
    }
    if (m_bOnlyFailed) continue;
    CLedgerModule module;
    bool found = false;
    CLedgerError failure;
    if (!ledger.FindByAddress(address, &found, &module, &failure)) {
      return Failed(failure, error, code);
    }
    if (found) continue;  // its values are the recorded ones
    // A name that does not follow the number is known now: check it before anything is bound.
    CModuleSettings first, second;
    bool named = false;
    if (make(worker, next, &first, &named, error) == EValues::Refused) {
      *code = kExitUsage;
      return false;
    }
    if (!named || make(worker, next + 1, &second, &named, error) != EValues::Ok ||
        first.m_strName != second.m_strName) {
      continue;
    }
    bool held = false;
    std::string holder;
    long long number = 0;
    if (!ledger.NameHolder(first.m_strName, &held, &holder, &number, &failure)) {
      return Failed(failure, error, code);
    }
    if (held && holder != address) {
      *error = Printable(worker.m_strShown) + ": the ledger holds the name \"" +
               Printable(first.m_strName) + "\" for " + holder + " (number " +
               std::to_string(number) + ")";
      *code = kExitUsage;
      return false;
    }
    const auto taken = names.emplace(first.m_strName, worker.m_strShown);
    if (!taken.second) {
      *error = "two modules would get the name \"" + Printable(first.m_strName) + "\" (" +
               Printable(taken.first->second) + " and " + Printable(worker.m_strShown) + ")";
      *code = kExitUsage;
      return false;
    }
  }
  return true;
}

bool CGangLedger::Plan(std::vector<CWorker>& workers, const CMaker& make, std::string* error,
                       int* code) {
  long long next = 0;
  if (!NextNumber(&next, error, code) || !CheckNames(workers, make, next, error, code)) {
    return false;
  }
  // Every module read, with the values the options give it as a number; the new ones are
  // bound together, in port order.
  std::vector<CWorker*> read;
  std::vector<std::string> addresses;
  std::vector<CModuleSettings> reads;
  std::vector<CValuesMaker> makes;
  for (CWorker& worker : workers) {
    if (!worker.m_report.m_read) continue;  // not answered, or its Read failed
    const std::string address = AddressOf(worker);
    if (address.empty()) {
      worker.m_report.m_outcome = EOutcome::CommError;
      worker.m_report.m_strMessage = "corvane: the module's own address \"" +
                                     Printable(worker.m_report.m_read->m_strAddress) +
                                     "\" is no address the ledger can keep";
      continue;
    }
    read.push_back(&worker);
    addresses.push_back(address);
    reads.push_back(*worker.m_report.m_read);
    makes.push_back(
        [&make, &worker](long long number, CModuleSettings* values, bool* named, std::string* why) {
          return make(worker, number, values, named, why);
        });
  }
  std::vector<CLedgerTurn> turns;
  CLedgerError failure;
  size_t refused = read.size();
  if (!m_pRun->TurnAll(addresses, reads, makes, &turns, &refused, &failure)) {
    Failed(failure, error, code);
    if (refused < read.size()) *error = Printable(read[refused]->m_strShown) + ": " + *error;
    return false;
  }
  for (size_t k = 0; k < read.size(); ++k) {
    CWorker& worker = *read[k];
    const CLedgerTurn& turn = turns[k];
    if (turn.m_nNumber >= 0) worker.m_report.m_ledgerNumber = turn.m_nNumber;
    worker.m_bProgram = turn.m_bProgram;
    worker.m_bAgain = turn.m_bAgain;
    if (turn.m_bProgram) {
      worker.m_target = turn.m_values;
    } else {
      worker.m_report.m_outcome = turn.m_skip;
    }
  }
  return true;
}

void CGangLedger::Record(const CWorker& worker) {
  if (!worker.m_bTried) return;
  m_pRun->Record(worker.m_strShown, worker.m_report, worker.m_dSeconds, worker.m_bAgain);
}

bool CGangLedger::Tell(std::ostream& err, const std::string& reportPath) const {
  if (!m_pRun->Lost()) return false;
  err << "corvane: " << m_pRun->LostText();
  const std::vector<std::string> unrecorded = m_pRun->Unrecorded();
  if (!unrecorded.empty()) {
    err << "; not recorded:";
    for (size_t k = 0; k < unrecorded.size(); ++k) {
      err << (k == 0 ? " " : ", ") << Printable(unrecorded[k]);
    }
    err << "; their rows are in the report"
        << (reportPath.empty() ? " above" : " " + Printable(reportPath));
  }
  err << "\n";
  return true;
}
