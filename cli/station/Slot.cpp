#include "cli/station/Slot.h"

#include <chrono>
#include <system_error>

#include "engine/os/Platform.h"
#include "engine/report/Output.h"
#include "cli/Progress.h"

namespace {

using Clock = std::chrono::steady_clock;

// An idle slot asks for a module about twice a second: quick enough that an operator never
// waits on it, rare enough that many idle slots cost next to nothing.
constexpr DWORD kProbeEveryMs = 500;
// A port another program holds (or that may not be opened) is tried again this rarely.
constexpr DWORD kBlockedRetryMs = 2000;
// A module that has not answered this many probes in a row has been taken off the jig.
constexpr int kMissesForRemoval = 3;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

class CSlot::CSink final : public CProgressSink {
 public:
  explicit CSink(CSlot& slot) : m_slot(slot) {}
  // "reading" while the module is read first, "programming" from then on.
  void Phase(const char* phase) { m_strPhase = phase; }
  void OnProgress(int step, const std::string& doing) override {
    m_slot.Show(m_strPhase + " " + ProgressLine(step, doing));
  }

 private:
  CSlot& m_slot;
  std::string m_strPhase = "reading";
};

CSlot::CSlot(CStationContext& context, std::string label, std::string port, std::string listed,
             CommApi& api, std::unique_ptr<CommApi> owned)
    : m_context(context),
      m_strLabel(std::move(label)),
      m_strPort(std::move(port)),
      m_strListed(std::move(listed)),
      m_pOwnedApi(std::move(owned)),
      m_api(api) {
  m_nLine = m_context.Board().AddSlot(m_strLabel);
}

CSlot::~CSlot() {
  Join();
}

bool CSlot::Start() {
  try {
    m_thread = StartWorkerThread([this] { Run(); });
    return true;
  } catch (const std::system_error&) {
    Show("no thread could be started for this slot");
    return false;
  }
}

void CSlot::Join() {
  if (m_thread.joinable()) m_thread.join();
}

void CSlot::Show(const std::string& state) {
  m_context.Board().SetState(m_nLine, state);
}

CSlot::EProbe CSlot::Probe(CModuleSession& session) {
  if (session.Probe(m_strListed)) return EProbe::Answered;
  switch (session.LastOpenError()) {
    case ERROR_ACCESS_DENIED:
      return EProbe::Busy;
    case ERROR_PRIVILEGE_NOT_HELD:
      return EProbe::Denied;
    case ERROR_FILE_NOT_FOUND:
      // The device is gone (an adapter pulled out), whatever the last scan said.
      return EProbe::Gone;
    default:
      return EProbe::Silent;
  }
}

void CSlot::Run() {
  // One session for every probe of the slot: an idle slot costs only its probes.
  CModuleSession prober(m_api, m_context.UserInterrupt());
  prober.ListOnly(m_strListed);
  prober.SetPace(m_context.Options().m_pace);
  int misses = 0;
  EProbe last = EProbe::Silent;
  while (!m_context.Stopping()) {
    const Clock::time_point start = Clock::now();
    DWORD pause = kProbeEveryMs;
    const EProbe probe = m_bPresent ? Probe(prober) : EProbe::Gone;
    // A module that answers just as the station stops is left for the next run.
    if (m_context.Stopping()) break;
    switch (probe) {
      case EProbe::Answered:
        misses = 0;
        // The probe cannot tell one module from another: a module swapped in quicker than
        // the misses that mark a removal would pass for the one before.
        if (m_bOccupied && !StillThere(prober)) Removed();
        if (!m_bOccupied) {
          TakeModule();
          continue;
        }
        break;
      case EProbe::Silent:
        if (m_bOccupied && ++misses >= kMissesForRemoval) Removed();
        if (!m_bOccupied) Show("waiting");
        break;
      case EProbe::Gone:
        if (m_bOccupied) Removed();
        Show("no port");
        break;
      case EProbe::Busy:
      case EProbe::Denied: {
        // Shown once, then tried again now and then: the holder may let go.
        const std::string why =
            probe == EProbe::Busy ? "busy: another program holds it" : "no permission to open it";
        if (last != probe) {
          m_context.Board().Event(
              m_nLine, Printable(m_strPort) + (probe == EProbe::Busy ? " is " : ": ") + why, false);
        }
        Show(why + "; run `corvane doctor --port " + Printable(m_strPort) + "`");
        pause = kBlockedRetryMs;
        break;
      }
    }
    last = probe;
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (waited < pause) m_context.Wait(pause - static_cast<DWORD>(waited));
  }
}

bool CSlot::StillThere(CModuleSession& prober) {
  if (m_strLastAddress.empty()) return true;
  const std::optional<CModuleAddress> found = prober.Identify();
  // No answer to the look (a module that answers the probe but not the link) tells nothing:
  // only silence on the probe takes a module off.
  return !found || found->Text() == m_strLastAddress;
}

void CSlot::TakeModule() {
  const Clock::time_point start = Clock::now();
  m_context.NoteArrival();
  m_bOccupied = true;
  m_context.Post(m_strLabel, m_strPort, "arrived", CJson::object());
  m_context.Board().Event(m_nLine, "arrived", false);

  CSink sink(*this);
  CModuleSession session(m_api, m_context.UserInterrupt(), &sink);
  session.ListOnly(m_strListed);
  session.SetPace(m_context.Options().m_pace);
  // Modules are swapped by hand here: every setting goes only to the module read.
  session.CheckEverySetting();
  CModuleReport report;
  report.m_outcome = EOutcome::Ok;
  if (!session.Read(false, report)) {
    // A module whose address came is known from now on: a swap for another is seen.
    m_strLastAddress = KnownAddress(report);
    Finish(report, Since(start), false, false);
    return;
  }
  const std::string address = report.m_address->Text();
  CSlotTurn turn;
  if (address == m_strLastAddress && m_bLastOk) {
    // The module this slot has just programmed, put back on: never twice in a row.
    turn.m_kind = CSlotTurn::EKind::Skip;
  } else {
    turn = m_context.Turn(m_strPort, *report.m_read);
  }
  m_strLastAddress = address;
  if (turn.m_nNumber >= 0) report.m_ledgerNumber = turn.m_nNumber;
  if (turn.m_kind != CSlotTurn::EKind::Program) {
    report.m_outcome = turn.m_kind == CSlotTurn::EKind::Skip ? turn.m_skip : turn.m_failure;
    report.m_strMessage = turn.m_strWhy.empty() ? "" : "corvane: " + turn.m_strWhy;
    Finish(report, Since(start), false, false);
    return;
  }
  if (m_context.UserInterrupt().IsSet()) {
    report.m_outcome = EOutcome::Interrupted;
    Finish(report, Since(start), false, false);
    return;
  }
  CJson values = SettingsJson(m_strPort, address, CSettingChanges::Of(turn.m_values));
  values.erase("port");
  values.erase("address");
  CJson started = {{"address", address}, {"values", values}};
  if (report.m_ledgerNumber) started["number"] = *report.m_ledgerNumber;
  m_context.Post(m_strLabel, m_strPort, "started", started);
  const CStationOptions& options = m_context.Options();
  sink.Phase("programming");
  session.Program(turn.m_values, options.m_bTurnOff, options.m_bVerify, report);
  Finish(report, Since(start), true, turn.m_bAgain);
}

void CSlot::Finish(CModuleReport& report, double seconds, bool tried, bool again) {
  const bool ok = report.m_outcome == EOutcome::Ok;
  m_bLastOk = ok || report.m_outcome == EOutcome::AlreadyProgrammed;
  m_context.Ended(m_strPort, report, seconds, tried, again);
  CJson fields = ReportJson(m_strPort, report, tried, m_context.Options().m_bVerify);
  fields.erase("port");
  if (report.m_ledgerNumber) fields["number"] = *report.m_ledgerNumber;
  fields["seconds"] = static_cast<double>(static_cast<long long>(seconds * 10 + 0.5)) / 10;
  m_context.Post(m_strLabel, m_strPort, m_bLastOk ? "ok" : "failed", fields);

  const CSettingChanges known = KnownSettings(report);
  std::string result;
  if (ok) {
    result = "OK " + (known.m_name ? Printable(*known.m_name) : std::string());
  } else if (m_bLastOk) {
    result = OutcomeText(report.m_outcome);
  } else {
    std::string why = report.m_strMessage;
    if (why.compare(0, 9, "corvane: ") == 0) why.erase(0, 9);
    if (report.m_outcome == EOutcome::VerifyDiffers) why = JoinSettings(report.m_differs);
    result = "FAILED " + std::string(OutcomeText(report.m_outcome)) +
             (why.empty() ? "" : ": " + Printable(OneLine(why)));
    if (tried) result += " (acknowledged: " + JoinSettings(ConfirmedSettings(report)) + ")";
  }
  m_context.Board().Event(m_nLine, result, !m_bLastOk);
  Show(result + ", remove the module");
}

void CSlot::Removed() {
  m_bOccupied = false;
  CJson fields = CJson::object();
  if (!m_strLastAddress.empty()) fields["address"] = m_strLastAddress;
  m_context.Post(m_strLabel, m_strPort, "removed", fields);
  m_context.Board().Event(m_nLine, "removed", false);
  Show("waiting");
}
