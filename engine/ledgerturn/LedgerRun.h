// The ledger as `program` and `gang` use it. Opened before any port, it keys every module by
// its own address: a module it has never seen is bound to the next number with the values the
// options give for that number; one it has seen keeps its number and recorded values; one
// whose last attempt ended ok is left alone unless asked again. Every attempt at programming
// a module is recorded as the module ends.
//
// Contract: every call blocks on the ledger (ledger/Ledger.h: at most its busy time-out, or
// the connect time-out of a server) and may come from any thread. Once a call has found the
// ledger unavailable, the run has lost it: nothing more is recorded (the attempts are kept in
// a list for the user) and the caller programs no further module.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/os/RunEnv.h"
#include "engine/values/RunChoices.h"
#include "engine/values/ModuleValues.h"
#include "engine/session/ModuleSession.h"
#include "ledger/Ledger.h"

// The values a module gets as number: Ok with *values, NotInPlan, or Refused with the rule
// broken in *why. *named tells a name the options set from one the module merely keeps: only
// a name set is bound (names are unique in the ledger; a kept factory name is not). Quick and
// touching no port: it runs inside the binding's transaction.
using CValuesMaker = std::function<EValues(long long number, CModuleSettings* values, bool* named,
                                           std::string* why)>;

// What the ledger says of one module.
struct CLedgerTurn {
  bool m_bProgram = false;  // program it with m_values
  // When not: AlreadyProgrammed, NotInLedger or NotInPlan.
  EOutcome m_skip = EOutcome::AlreadyProgrammed;
  long long m_nNumber = -1;  // its number; -1 when it has none
  bool m_bNew = false;       // bound by this call
  bool m_bAgain = false;     // programmed once more after an attempt that ended ok
  CModuleSettings m_values;
  // With DiffersFromLedger: what the module holds against what the ledger recorded.
  std::string m_strWhy;
  // A name given now to a module bound without one: bound before anything is sent.
  std::string m_strNameToBind;
};

// The line for a module that differs from the ledger: what it holds, and the way out.
std::string DiffersText(const CLedgerTurn& turn);

class CLedgerRun {
 public:
  // The ledger the options name, checked and ready. Null with one line for stderr (naming
  // the ledger and what is wrong) when it cannot be used.
  static std::unique_ptr<CLedgerRun> Open(const CLedgerChoice& options, std::string* error);
  // For a look that changes nothing: as Open, but a ledger file that does not exist yet is
  // not created; the run then sees an empty ledger (whose next number is 1).
  static std::unique_ptr<CLedgerRun> OpenToLook(const CLedgerChoice& options, std::string* error);

  // Not for a run opened by OpenToLook on a file that did not exist.
  CLedger& Ledger() { return *m_pLedger; }

  // The turn of the module at address, read to hold read. False with *error when the ledger
  // refused (a name held by another address, values refused) or failed (then also Lost).
  bool Turn(const std::string& address, const CModuleSettings& read, const CValuesMaker& make,
            CLedgerTurn* turn, CLedgerError* error);
  // Turn for several modules at once (a gang's), whose new ones are bound in one transaction:
  // one durable commit for them all. All or nothing: when the ledger refuses one, no module
  // is bound and *refused (when not null) gets the index of the module refused.
  bool TurnAll(const std::vector<std::string>& addresses, const std::vector<CModuleSettings>& reads,
               const std::vector<CValuesMaker>& makes, std::vector<CLedgerTurn>* turns,
               size_t* refused, CLedgerError* error);
  // The turn the module at address would have, bound or not, without binding it: a new module
  // gets m_nNumber the next number now (another process may take it first) and m_bNew. False
  // with *error as Turn, also for a name the ledger holds for another address.
  // A gang's preview gives next, the number the first new module would get (each later one
  // the number after); -1 asks the ledger.
  bool Preview(const std::string& address, const CModuleSettings& read, const CValuesMaker& make,
               CLedgerTurn* turn, CLedgerError* error, long long next = -1);
  // Records the attempt at the module read into report, on port (and, when another module
  // answered in its place, an attempt at that one too). False when it was not recorded: the
  // ledger is lost, now or before.
  bool Record(const std::string& port, const CModuleReport& report, double seconds, bool again);
  // Notes that a call made by the caller found the ledger unavailable.
  void Lose(const CLedgerError& error);

  bool Lost() const;
  // The failure that lost the ledger, one line.
  std::string LostText() const;
  // The attempts not recorded, "COM3 (00:1A:7D:DA:71:13, ok)".
  std::vector<std::string> Unrecorded() const;

 private:
  CLedgerRun(std::unique_ptr<CLedger> ledger, const CLedgerChoice& options)
      : m_pLedger(std::move(ledger)),
        m_strLocation(RedactLocation(options.m_strLocation)),
        m_bAgain(options.m_bAgain),
        m_bOnlyFailed(options.m_bOnlyFailed),
        m_bOmitPins(options.OmitPins()) {}
  bool Find(const std::string& address, bool* found, CLedgerModule* module, CLedgerError* error);
  // TurnAll's binding of the modules at the indexes fresh, new to the ledger, in one call.
  bool BindFresh(const std::vector<size_t>& fresh, const std::vector<std::string>& addresses,
                 const std::vector<CModuleSettings>& reads, const std::vector<CValuesMaker>& makes,
                 std::vector<CLedgerTurn>* turns, size_t* refused, CLedgerError* error);
  // Whether the ledger has an attempt at the unbound module at address (a read that failed
  // once its address had come). False also when the ledger failed (*error unavailable).
  bool Tried(const std::string& address, CLedgerError* error);
  // Binds turn's new name to the module at address, if it has one. False when the ledger
  // refused it (held by another module) or failed.
  bool BindNewName(const std::string& address, CLedgerTurn* turn, CLedgerError* error);
  // The turn of a module the ledger has bound.
  void FromRecord(const CLedgerModule& module, const CModuleSettings& read,
                  const CValuesMaker& make, CLedgerTurn* turn) const;
  // The values as the ledger keeps them; without the name unless named.
  CLedgerValues Values(const CModuleSettings& values, bool named = true) const;
  CLedgerAttempt Attempt(const std::string& port, const CModuleReport& report, double seconds,
                         bool again) const;
  bool RecordOne(const CLedgerAttempt& attempt);

  std::unique_ptr<CLedger> m_pLedger;  // null: a file not created yet, seen as empty
  const std::string m_strLocation;
  const bool m_bAgain;
  const bool m_bOnlyFailed;
  const bool m_bOmitPins;
  mutable std::mutex m_mutex;
  bool m_bLost = false;
  std::string m_strLost;
  std::vector<std::string> m_unrecorded;
};
