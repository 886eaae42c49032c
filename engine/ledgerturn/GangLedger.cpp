#include "engine/ledgerturn/GangLedger.h"

#include <filesystem>
#include <map>
#include <random>

#include "engine/os/RunEnv.h"
#include "engine/values/Settings.h"

namespace {

// The ledger's key of the worker's module; empty when its address was not read.
std::string AddressOf(const CWorker& worker) {
  return KnownAddress(worker.m_report);
}

// A file path whose file does not exist yet, in a folder that does: opening it would create it.
bool IsNewLedgerFile(const std::string& location) {
  if (IsPostgresLocation(location)) return false;
  std::error_code error;
  const std::filesystem::path path(location);
  if (std::filesystem::symlink_status(path, error).type() !=
      std::filesystem::file_type::not_found) {
    return false;
  }
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  return std::filesystem::is_directory(folder, error);
}

// A new folder of our own under the system's temporary folder; empty when none could be made.
std::string MakeScratchFolder() {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return std::string();
  std::random_device random;
  for (int tries = 0; tries < 8; ++tries) {
    const std::filesystem::path folder = base / ("corvane-preview-" + std::to_string(random()));
    if (std::filesystem::create_directory(folder, error) && !error) return folder.string();
  }
  return std::string();
}

void RemoveFolder(const std::string& folder) {
  std::error_code error;
  if (!folder.empty()) std::filesystem::remove_all(folder, error);
}

}  // namespace

CGangLedger::~CGangLedger() {
  m_pRun.reset();  // closes the ledger before its scratch folder goes
  RemoveFolder(m_strScratch);
}

std::unique_ptr<CGangLedger> CGangLedger::Open(const CLedgerChoice& options, const long long* start,
                                               bool preview, std::string* error, int* code) {
  // A preview must not leave a ledger file behind where there was none: it looks at an empty
  // ledger of its own instead, which is what the real run would begin with.
  std::string scratch;
  CLedgerChoice opened = options;
  if (preview && IsNewLedgerFile(options.m_strLocation)) {
    scratch = MakeScratchFolder();
    // Opening the real location instead would make the very file the preview promises not to.
    if (scratch.empty()) {
      *error = "ledger " + Printable(options.m_strLocation) +
               ": a dry run looks at an empty ledger in a temporary folder, and none could be made "
               "(check TMPDIR); nothing was created";
      *code = kExitLedger;
      return nullptr;
    }
    opened.m_strLocation = scratch + "/ledger.db";
  }
  std::unique_ptr<CLedgerRun> run = CLedgerRun::Open(opened, error);
  if (!run) {
    RemoveFolder(scratch);
    *code = kExitLedger;
    return nullptr;
  }
  std::unique_ptr<CGangLedger> gang(new CGangLedger(std::move(run), options.m_bOnlyFailed));
  gang->m_strScratch = scratch;
  CLedgerError failure;
  if (start != nullptr && preview) {
    if (!gang->PreviewStart(*start, error, code)) return nullptr;
  } else if (start != nullptr && !gang->m_pRun->Ledger().SetStart(*start, &failure)) {
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

bool CGangLedger::PreviewStart(long long start, std::string* error, int* code) {
  CLedgerError failure;
  CLedgerStats stats;
  if (!m_pRun->Ledger().Stats(&stats, &failure)) return Failed(failure, error, code);
  // The counter is above every number bound: a start at or above it, or on an empty ledger,
  // is one the ledger takes. Below it the ledger may hold the numbers, and no read-only call
  // says which.
  if (stats.m_nModules > 0 && start < stats.m_nNextNumber) {
    *error = "--start: the ledger's next number is " + std::to_string(stats.m_nNextNumber) +
             "; a dry run shows a start below it only on an empty ledger";
    *code = kExitUsage;
    return false;
  }
  m_nPreviewStart = start;
  return true;
}

bool CGangLedger::NextNumber(long long* next, std::string* error, int* code) {
  if (m_nPreviewStart >= 0) {
    *next = m_nPreviewStart;
    return true;
  }
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
  return Give(workers, make, false, error, code);
}

bool CGangLedger::Preview(std::vector<CWorker>& workers, const CMaker& make, std::string* error,
                          int* code) {
  return Give(workers, make, true, error, code);
}

bool CGangLedger::Give(std::vector<CWorker>& workers, const CMaker& make, bool preview,
                       std::string* error, int* code) {
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
    read.push_back(&worker);
    addresses.push_back(address);
    reads.push_back(*worker.m_report.m_read);
    makes.push_back(
        [&make, &worker](long long number, CModuleSettings* values, bool* named, std::string* why) {
          return make(worker, number, values, named, why);
        });
  }
  std::vector<CLedgerTurn> turns(read.size());
  CLedgerError failure;
  size_t refused = read.size();
  bool given = true;
  if (preview) {
    // A preview binds nothing: each new module gets the number after the last one's.
    for (size_t k = 0; k < read.size() && given; ++k) {
      given = m_pRun->Preview(addresses[k], reads[k], makes[k], &turns[k], &failure, next);
      if (!given) refused = k;
      if (turns[k].m_bNew) ++next;
    }
  } else {
    given = m_pRun->TurnAll(addresses, reads, makes, &turns, &refused, &failure);
  }
  if (!given) {
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
      if (turn.m_skip == EOutcome::DiffersFromLedger) {
        worker.m_report.m_strMessage = DiffersText(turn);
      }
    }
  }
  return true;
}

void CGangLedger::Record(const CWorker& worker) {
  // A module programmed, or one whose read failed after its address came: both were there.
  const bool readFailed = worker.m_report.m_address && !worker.m_report.m_read;
  if (!worker.m_bTried && !readFailed) return;
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
