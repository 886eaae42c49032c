#include "engine/ledgerturn/LedgerRun.h"

#include <cmath>
#include <filesystem>
#include <system_error>

#include "engine/report/Output.h"
#include "engine/values/Settings.h"

namespace {

const char* RoleText(bool master) {
  return master ? "master" : "slave";
}

// The recorded values over base: a value the ledger left out (a PIN kept out of it) is base's.
CModuleSettings Over(const CLedgerValues& recorded, CModuleSettings base) {
  if (recorded.m_name) base.m_strName = *recorded.m_name;
  if (recorded.m_pin) base.m_strPin = *recorded.m_pin;
  bool master = false;
  if (recorded.m_role && ParseRole(*recorded.m_role, &master)) base.m_bMaster = master;
  CAddress peer;
  if (recorded.m_peer && ParsePeer(*recorded.m_peer, &peer)) base.m_peer = peer;
  return base;
}

// Where the module holds other values than the ledger recorded for it, worded for the user:
// "name \"X\" (recorded \"Y\"), role slave (recorded master)"; empty when it holds them all.
std::string Departures(const CLedgerValues& recorded, const CModuleSettings& read) {
  struct CField {
    const std::optional<std::string>& m_recorded;
    const char* m_pszLabel;
    std::string m_strHeld;
    bool m_bQuoted;
  };
  const CField fields[] = {{recorded.m_name, "name", read.m_strName, true},
                           {recorded.m_pin, "PIN", read.m_strPin, true},
                           {recorded.m_role, "role", RoleText(read.m_bMaster), false},
                           {recorded.m_peer, "peer", FormatAddress(read.m_peer), false}};
  std::string text;
  for (const CField& field : fields) {
    if (!field.m_recorded || *field.m_recorded == field.m_strHeld) continue;
    const auto shown = [&field](const std::string& value) {
      return field.m_bQuoted ? "\"" + Printable(value) + "\"" : Printable(value);
    };
    text += (text.empty() ? "" : ", ") + std::string(field.m_pszLabel) + " " +
            shown(field.m_strHeld) + " (recorded " + shown(*field.m_recorded) + ")";
  }
  return text;
}

bool Complete(const CLedgerValues& values) {
  return values.m_name && values.m_pin && values.m_role && values.m_peer;
}

}  // namespace

std::string DiffersText(const CLedgerTurn& turn) {
  return "corvane: the ledger's last attempt at number " + std::to_string(turn.m_nNumber) +
         " ended ok, but the module now holds " + turn.m_strWhy +
         "; nothing was sent (--again programs it with the recorded values)";
}

std::unique_ptr<CLedgerRun> CLedgerRun::Open(const CLedgerChoice& options, std::string* error) {
  CLedgerError failure;
  std::unique_ptr<CLedger> ledger = OpenLedger(options.m_strLocation, options.Station(), &failure);
  if (!ledger) {
    *error = failure.m_strText;
    return nullptr;
  }
  return std::unique_ptr<CLedgerRun>(new CLedgerRun(std::move(ledger), options));
}

std::unique_ptr<CLedgerRun> CLedgerRun::OpenToLook(const CLedgerChoice& options,
                                                   std::string* error) {
  std::error_code missing;
  if (!IsPostgresLocation(options.m_strLocation) &&
      !std::filesystem::exists(options.m_strLocation, missing) && !missing) {
    return std::unique_ptr<CLedgerRun>(new CLedgerRun(nullptr, options));
  }
  return Open(options, error);
}

CLedgerValues CLedgerRun::Values(const CModuleSettings& values, bool named) const {
  CLedgerValues out;
  if (named) out.m_name = values.m_strName;
  if (!m_bOmitPins) out.m_pin = values.m_strPin;
  out.m_role = RoleText(values.m_bMaster);
  out.m_peer = FormatAddress(values.m_peer);
  return out;
}

bool CLedgerRun::Turn(const std::string& address, const CModuleSettings& read,
                      const CValuesMaker& make, CLedgerTurn* turn, CLedgerError* error) {
  *turn = CLedgerTurn();
  CLedgerModule module;
  bool found = false;
  if (!m_pLedger->FindByAddress(address, &found, &module, error)) {
    if (error->m_bUnavailable) Lose(*error);
    return false;
  }
  if (found) {
    FromRecord(module, read, make, turn);
    return BindNewName(address, turn, error);
  }
  if (m_bOnlyFailed && !Tried(address, error)) {
    if (error->m_bUnavailable) return false;
    turn->m_skip = EOutcome::NotInLedger;
    return true;
  }
  EValues made = EValues::Ok;
  CModuleSettings values;
  auto valuesFor = [&](long long number, CLedgerValues* bound, std::string* refusal) {
    bool named = false;
    made = make(number, &values, &named, refusal);
    if (made != EValues::Ok) return false;
    *bound = Values(values, named);
    return true;
  };
  bool bound = false;
  if (!m_pLedger->Bind(address, valuesFor, &module, &bound, error)) {
    if (error->m_bUnavailable) {
      Lose(*error);
      return false;
    }
    // Not in the plan: no number is used for it, and it is left alone like without a ledger.
    if (made != EValues::NotInPlan) return false;
    turn->m_skip = EOutcome::NotInPlan;
    return true;
  }
  if (!bound) {
    // Another process or station bound it a moment ago.
    FromRecord(module, read, make, turn);
    return BindNewName(address, turn, error);
  }
  turn->m_bProgram = true;
  turn->m_bNew = true;
  turn->m_nNumber = module.m_nNumber;
  turn->m_values = values;
  return true;
}

bool CLedgerRun::TurnAll(const std::vector<std::string>& addresses,
                         const std::vector<CModuleSettings>& reads,
                         const std::vector<CValuesMaker>& makes, std::vector<CLedgerTurn>* turns,
                         size_t* refused, CLedgerError* error) {
  turns->assign(addresses.size(), CLedgerTurn());
  // Modules run again are found without the write lock; only new ones go into the binding.
  std::vector<size_t> fresh;
  for (size_t k = 0; k < addresses.size(); ++k) {
    CLedgerModule module;
    bool found = false;
    if (!Find(addresses[k], &found, &module, error)) return false;
    if (found) {
      FromRecord(module, reads[k], makes[k], &(*turns)[k]);
      if (!BindNewName(addresses[k], &(*turns)[k], error)) {
        if (refused != nullptr && !error->m_bUnavailable) *refused = k;
        return false;
      }
    } else if (m_bOnlyFailed && !Tried(addresses[k], error)) {
      if (error->m_bUnavailable) return false;
      (*turns)[k].m_skip = EOutcome::NotInLedger;
    } else {
      fresh.push_back(k);
    }
  }
  return fresh.empty() || BindFresh(fresh, addresses, reads, makes, turns, refused, error);
}

bool CLedgerRun::BindFresh(const std::vector<size_t>& fresh,
                           const std::vector<std::string>& addresses,
                           const std::vector<CModuleSettings>& reads,
                           const std::vector<CValuesMaker>& makes, std::vector<CLedgerTurn>* turns,
                           size_t* refused, CLedgerError* error) {
  std::vector<std::string> keys;
  for (size_t k : fresh) keys.push_back(addresses[k]);
  std::vector<CModuleSettings> values(fresh.size());
  size_t asked = 0;
  const CLedgerValuesForEach valuesFor = [&](size_t i, long long number, CLedgerValues* bound,
                                             std::string* refusal) {
    asked = i;
    bool named = false;
    switch (makes[fresh[i]](number, &values[i], &named, refusal)) {
      case EValues::Ok:
        *bound = Values(values[i], named);
        return ELedgerValues::Ok;
      case EValues::NotInPlan:
        return ELedgerValues::Skip;
      case EValues::Refused:
        break;
    }
    return ELedgerValues::Refuse;
  };
  std::vector<CLedgerModule> modules;
  std::vector<ELedgerBinding> outcomes;
  if (!m_pLedger->BindAll(keys, valuesFor, &modules, &outcomes, error)) {
    if (error->m_bUnavailable) {
      Lose(*error);
    } else if (refused != nullptr) {
      *refused = fresh[asked];
    }
    return false;
  }
  for (size_t i = 0; i < fresh.size(); ++i) {
    CLedgerTurn& turn = (*turns)[fresh[i]];
    if (outcomes[i] == ELedgerBinding::Skipped) {
      turn.m_skip = EOutcome::NotInPlan;
    } else if (outcomes[i] == ELedgerBinding::Found) {
      // Another process or station bound it a moment ago: its attempts decide too.
      CLedgerModule module;
      bool found = false;
      if (!Find(keys[i], &found, &module, error)) return false;
      FromRecord(found ? module : modules[i], reads[fresh[i]], makes[fresh[i]], &turn);
      if (!BindNewName(keys[i], &turn, error)) return false;
    } else {
      turn.m_bProgram = true;
      turn.m_bNew = true;
      turn.m_nNumber = modules[i].m_nNumber;
      turn.m_values = values[i];
    }
  }
  return true;
}

bool CLedgerRun::Find(const std::string& address, bool* found, CLedgerModule* module,
                      CLedgerError* error) {
  *found = false;
  if (!m_pLedger || m_pLedger->FindByAddress(address, found, module, error)) return true;
  if (error->m_bUnavailable) Lose(*error);
  return false;
}

bool CLedgerRun::Preview(const std::string& address, const CModuleSettings& read,
                         const CValuesMaker& make, CLedgerTurn* turn, CLedgerError* error,
                         long long next) {
  *turn = CLedgerTurn();
  CLedgerModule module;
  bool found = false;
  if (!Find(address, &found, &module, error)) return false;
  if (found) {
    FromRecord(module, read, make, turn);
    return true;
  }
  if (m_bOnlyFailed && !(m_pLedger && Tried(address, error))) {
    if (error->m_bUnavailable) return false;
    turn->m_skip = EOutcome::NotInLedger;
    return true;
  }
  if (next < 0 && m_pLedger && !m_pLedger->NextNumber(&next, error)) {
    if (error->m_bUnavailable) Lose(*error);
    return false;
  }
  if (next < 0) next = 1;
  bool named = false;
  std::string why;
  const EValues made = make(next, &turn->m_values, &named, &why);
  if (made == EValues::NotInPlan) {
    turn->m_skip = EOutcome::NotInPlan;
    return true;
  }
  error->m_bUnavailable = false;
  if (made == EValues::Refused) {
    error->m_strText = "ledger " + m_strLocation + ": " + why;
    return false;
  }
  bool held = false;
  std::string holder;
  long long number = 0;
  if (named && m_pLedger &&
      !m_pLedger->NameHolder(turn->m_values.m_strName, &held, &holder, &number, error)) {
    if (error->m_bUnavailable) Lose(*error);
    return false;
  }
  if (held && holder != address) {
    error->m_strText = "ledger " + m_strLocation + ": the name \"" +
                       Printable(turn->m_values.m_strName) + "\" is already held by " + holder +
                       " (number " + std::to_string(number) + ")";
    return false;
  }
  turn->m_bProgram = true;
  turn->m_bNew = true;
  turn->m_nNumber = next;
  return true;
}

bool CLedgerRun::Tried(const std::string& address, CLedgerError* error) {
  // A module whose read failed has attempts but no binding: it failed, so it is taken.
  CLedgerFilter filter;
  filter.m_strAddress = address;
  bool any = false;
  error->m_bUnavailable = false;
  if (!m_pLedger->Export(
          filter, [&any](const CLedgerAttempt&) { any = true; }, error)) {
    if (error->m_bUnavailable) Lose(*error);
    return false;
  }
  return any;
}

bool CLedgerRun::BindNewName(const std::string& address, CLedgerTurn* turn, CLedgerError* error) {
  if (!turn->m_bProgram || turn->m_strNameToBind.empty()) return true;
  if (m_pLedger->BindName(address, turn->m_strNameToBind, error)) return true;
  if (error->m_bUnavailable) Lose(*error);
  return false;
}

void CLedgerRun::FromRecord(const CLedgerModule& module, const CModuleSettings& read,
                            const CValuesMaker& make, CLedgerTurn* turn) const {
  turn->m_nNumber = module.m_nNumber;
  if (module.LastOk() && !m_bAgain) {
    turn->m_strWhy = Departures(module.m_values, read);
    turn->m_skip =
        turn->m_strWhy.empty() ? EOutcome::AlreadyProgrammed : EOutcome::DiffersFromLedger;
    return;
  }
  CModuleSettings base = read;
  if (!Complete(module.m_values)) {
    // What the ledger left out comes from the options for the module's own number, as when it
    // was bound; where they give nothing, the module keeps its own.
    CModuleSettings made = read;
    bool named = false;
    std::string why;
    if (make(module.m_nNumber, &made, &named, &why) == EValues::Ok) {
      base = made;
      // A name set now for a module bound without one is bound before it is written.
      if (named && !module.m_values.m_name) turn->m_strNameToBind = made.m_strName;
    }
  }
  turn->m_bProgram = true;
  turn->m_bAgain = module.LastOk();
  turn->m_values = Over(module.m_values, base);
}

CLedgerAttempt CLedgerRun::Attempt(const std::string& port, const CModuleReport& report,
                                   double seconds, bool again) const {
  CLedgerAttempt attempt;
  attempt.m_strVersion = kCorvaneVersion;
  attempt.m_strPort = port;
  // A read that failed after the address came still leaves its row: the module was there.
  if (report.m_address) attempt.m_strAddress = report.m_address->Text();
  if (report.m_read) attempt.m_before = Values(*report.m_read);
  if (report.m_written) {
    // Only what the module acknowledged for certain counts as written.
    const CLedgerValues sent = Values(*report.m_written);
    const CSettingSet confirmed = ConfirmedSettings(report);
    if (confirmed.Has(ESetting::Name)) attempt.m_written.m_name = sent.m_name;
    if (confirmed.Has(ESetting::Pin)) attempt.m_written.m_pin = sent.m_pin;
    if (confirmed.Has(ESetting::Role)) attempt.m_written.m_role = sent.m_role;
    if (confirmed.Has(ESetting::Peer)) attempt.m_written.m_peer = sent.m_peer;
  }
  attempt.m_verified = report.m_verified;
  attempt.m_nDurationMs = std::llround(seconds * 1000);
  attempt.m_strResult = OutcomeText(report.m_outcome);
  attempt.m_strMessage = report.m_strMessage;
  attempt.m_strPace = PaceText(report.m_pace);
  attempt.m_bFellBack = report.m_bFellBack;
  // What is worth keeping beside the values: a run of --again, another module's answer.
  if (again) attempt.m_strNotes = "again";
  if (report.m_otherAddress) {
    attempt.m_strNotes += (attempt.m_strNotes.empty() ? "" : "; ") +
                          std::string("another module answered: ") + report.m_otherAddress->Text();
  }
  if (!report.m_unconfirmed.Empty()) {
    attempt.m_strNotes += (attempt.m_strNotes.empty() ? "" : "; ") + std::string("unconfirmed: ") +
                          JoinSettings(report.m_unconfirmed);
  }
  return attempt;
}

bool CLedgerRun::Record(const std::string& port, const CModuleReport& report, double seconds,
                        bool again) {
  bool recorded = RecordOne(Attempt(port, report, seconds, again));
  if (report.m_otherAddress) {
    // The module put on in place of this one was there too: it has a row of its own, with
    // nothing known written to it.
    CLedgerAttempt other;
    other.m_strVersion = kCorvaneVersion;
    other.m_strPort = port;
    other.m_strAddress = report.m_otherAddress->Text();
    other.m_strResult = OutcomeText(EOutcome::ModuleChanged);
    other.m_strMessage = report.m_strMessage;
    other.m_strNotes = "in place of " + KnownAddress(report);
    if (!report.m_unconfirmed.Empty()) {
      other.m_strNotes += "; unconfirmed: " + JoinSettings(report.m_unconfirmed);
    }
    recorded = RecordOne(other) && recorded;
  }
  return recorded;
}

bool CLedgerRun::RecordOne(const CLedgerAttempt& attempt) {
  const std::string shown =
      attempt.m_strPort + " (" + attempt.m_strAddress + ", " + attempt.m_strResult + ")";
  if (!Lost()) {
    CLedgerError error;
    if (m_pLedger->RecordAttempt(attempt, &error)) return true;
    if (error.m_bUnavailable) Lose(error);
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_unrecorded.push_back(shown);
  return false;
}

void CLedgerRun::Lose(const CLedgerError& error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bLost) return;
  m_bLost = true;
  m_strLost = error.m_strText;
}

bool CLedgerRun::Lost() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bLost;
}

std::string CLedgerRun::LostText() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_strLost;
}

std::vector<std::string> CLedgerRun::Unrecorded() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_unrecorded;
}
