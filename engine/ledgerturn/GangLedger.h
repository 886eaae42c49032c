// The ledger's part of `corvane gang`: opened before any port, it gives every module read its
// turn on the coordinating thread (in port order, so new modules are numbered in port order;
// all of them bound in one transaction, one durable commit for the gang) and records each
// attempt from the worker's own thread as the worker ends.
//
// Contract: Open and Plan block on the ledger. Plan refuses before any module is programmed
// and, where it can, before any number is bound: a name from the plan or --name that the
// ledger holds for another module, or that two modules would get; two modules with one
// address. Record may be called from
// any worker thread. Once the ledger is lost, nothing more is recorded; Tell names what was
// not.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine/values/RunChoices.h"
#include "engine/gang/GangWorker.h"
#include "engine/ledgerturn/LedgerRun.h"

class CGangLedger {
 public:
  // The values a worker's module gets as number (see CValuesMaker).
  using CMaker = std::function<EValues(const CWorker& worker, long long number,
                                       CModuleSettings* values, bool* named, std::string* why)>;

  // Opens the ledger and, when start is given, sets its counter there; for a preview (a dry
  // run) the counter is left as it is and the numbers are shown from start, and a ledger file
  // that does not exist yet is not made (an empty one in a temporary folder stands in). Null with
  // one line in *error and the exit code in *code: kExitLedger for a ledger that cannot be used,
  // kExitUsage for a start the ledger refuses.
  static std::unique_ptr<CGangLedger> Open(const CLedgerChoice& options, const long long* start,
                                           bool preview, std::string* error, int* code);

  ~CGangLedger();

  // The number the next new module gets.
  bool NextNumber(long long* next, std::string* error, int* code);
  // Gives every worker whose module was read its turn: m_bProgram and m_target, or the
  // outcome of a module left alone, and its number. False with *error and *code when the run
  // is refused (kExitUsage) or the ledger failed (kExitLedger).
  bool Plan(std::vector<CWorker>& workers, const CMaker& make, std::string* error, int* code);
  // What Plan would give every worker, with nothing bound: new modules get the next numbers
  // in port order.
  bool Preview(std::vector<CWorker>& workers, const CMaker& make, std::string* error, int* code);
  // Records the worker's attempt, if it made one.
  void Record(const CWorker& worker);
  // When the ledger was lost: says so on err with the attempts not recorded and where their
  // rows are, and returns true.
  bool Tell(std::ostream& err, const std::string& reportPath) const;

 private:
  explicit CGangLedger(std::unique_ptr<CLedgerRun> run, bool onlyFailed)
      : m_pRun(std::move(run)), m_bOnlyFailed(onlyFailed) {}
  // The names the options give new modules, checked against the ledger and each other, and
  // the modules' addresses against each other, before any of them is bound.
  bool CheckNames(std::vector<CWorker>& workers, const CMaker& make, long long next,
                  std::string* error, int* code);
  bool Failed(const CLedgerError& failure, std::string* error, int* code);
  // Plan, or with preview its dry run.
  bool Give(std::vector<CWorker>& workers, const CMaker& make, bool preview, std::string* error,
            int* code);
  // A preview's start: the first number a new module would get, if the ledger would take it.
  bool PreviewStart(long long start, std::string* error, int* code);

  std::unique_ptr<CLedgerRun> m_pRun;
  bool m_bOnlyFailed;
  // A preview with --start: the number the counter would have been set to.
  long long m_nPreviewStart = -1;
  // A preview's stand-in for a ledger file not made yet, removed with this object.
  std::string m_strScratch;
};
