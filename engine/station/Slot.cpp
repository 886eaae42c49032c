#include "engine/station/Slot.h"

#include <chrono>
#include <system_error>

#include "engine/os/Platform.h"
#include "engine/report/Output.h"

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
  // Reading while the module is read first, programming from then on.
  void Phase(EPhase phase) { m_phase = phase; }
  void OnProgress(int step, const std::string& doing) override {
    m_slot.m_context.Events().OnStep({m_slot.Place(), m_phase, step, doing});
  }

 private:
  CSlot& m_slot;
  EPhase m_phase = EPhase::Reading;
};

CSlot::CSlot(CStationContext& context, std::string label, std::string port, std::string listed,
             CommApi& api, std::unique_ptr<CommApi> owned)
    : m_context(context),
      m_strLabel(std::move(label)),
      m_strPort(std::move(port)),
      m_strListed(std::move(listed)),
      m_pOwnedApi(std::move(owned)),
      m_api(api) {
  m_nSlot = m_context.NewSlot();
  // The slot's first word: its line is there before its thread starts.
  m_context.Events().OnSlotState({Place(), m_state});
}

CSlot::~CSlot() {
  Join();
}

bool CSlot::Start() {
  try {
    m_thread = StartWorkerThread([this] { Run(); });
    return true;
  } catch (const std::system_error&) {
    SetState(ESlotState::NoThread);
    return false;
  }
}

void CSlot::Join() {
  if (m_thread.joinable()) m_thread.join();
}

void CSlot::SetState(ESlotState state) {
  if (state == m_state) return;
  m_state = state;
  m_context.Events().OnSlotState({Place(), state});
}

CEventPlace CSlot::Place() const {
  return {m_nSlot, m_strLabel, m_strPort, m_lastAddress};
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
        if (!m_bOccupied) SetState(ESlotState::Waiting);
        break;
      case EProbe::Gone:
        if (m_bOccupied) Removed();
        SetState(ESlotState::NoPort);
        break;
      case EProbe::Busy:
      case EProbe::Denied:
        // Told once, then tried again now and then: the holder may let go.
        SetState(probe == EProbe::Busy ? ESlotState::Busy : ESlotState::Denied);
        pause = kBlockedRetryMs;
        break;
    }
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (waited < pause) m_context.Wait(pause - static_cast<DWORD>(waited));
  }
}

bool CSlot::StillThere(CModuleSession& prober) {
  if (!m_lastAddress) return true;
  const std::optional<CModuleAddress> found = prober.Identify();
  // No answer to the look (a module that answers the probe but not the link) tells nothing:
  // only silence on the probe takes a module off.
  return !found || found->Text() == m_lastAddress->Text();
}

void CSlot::TakeModule() {
  const Clock::time_point start = Clock::now();
  m_context.NoteArrival();
  m_bOccupied = true;
  // Until its address comes, the module on the jig is not the one before.
  const std::optional<CModuleAddress> before = m_lastAddress;
  m_lastAddress.reset();
  m_context.Events().OnArrived({Place()});
  SetState(ESlotState::Reading);

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
    m_lastAddress = report.m_address;
    Finish(report, Since(start), false, false);
    return;
  }
  const std::string address = report.m_address->Text();
  CSlotTurn turn;
  if (before && address == before->Text() && m_bLastOk) {
    // The module this slot has just programmed, put back on: never twice in a row.
    turn.m_kind = CSlotTurn::EKind::Skip;
  } else {
    turn = m_context.Turn(m_strPort, *report.m_read);
  }
  m_lastAddress = report.m_address;
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
  m_context.Events().OnProgrammingStarted({Place(), turn.m_values, report.m_ledgerNumber});
  SetState(ESlotState::Programming);
  const CStationSetup& options = m_context.Options();
  sink.Phase(EPhase::Programming);
  session.Program(turn.m_values, options.m_bTurnOff, options.m_bVerify, report);
  Finish(report, Since(start), true, turn.m_bAgain);
}

void CSlot::Finish(CModuleReport& report, double seconds, bool tried, bool again) {
  m_bLastOk = report.m_outcome == EOutcome::Ok || report.m_outcome == EOutcome::AlreadyProgrammed;
  m_context.Ended(m_strPort, report, seconds, tried, again);
  // The session tells its steps as they go, the settings the module took once it is done.
  CEngineEventSink& events = m_context.Events();
  for (ESetting setting : ConfirmedSettings(report).Each()) {
    events.OnAcknowledged({Place(), setting});
  }
  events.OnAttemptEnded({Place(), report, tried, m_context.Options().m_bVerify, seconds});
  SetState(ESlotState::Done);
}

void CSlot::Removed() {
  m_bOccupied = false;
  m_context.Events().OnRemoved({Place()});
  SetState(ESlotState::Waiting);
}
