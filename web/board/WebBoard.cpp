#include "web/board/WebBoard.h"

#include <nlohmann/json.hpp>

#include "engine/station/StationWords.h"
#include "web/WebAssets.h"

namespace {

struct CStateWords {
  const char* m_szKey;   // the tile's class on the page
  const char* m_szWord;  // shown on the tile: a colour is never the only sign
};

CStateWords Words(ESlotState state, const std::string& result) {
  switch (state) {
    case ESlotState::Waiting:
      return {"waiting", "Waiting"};
    case ESlotState::NoPort:
      return {"problem", "No port"};
    case ESlotState::Busy:
      return {"problem", "Port busy"};
    case ESlotState::Denied:
      return {"problem", "No access"};
    case ESlotState::NoThread:
      return {"problem", "Not started"};
    case ESlotState::Reading:
      return {"working", "Reading"};
    case ESlotState::Programming:
      return {"working", "Programming"};
    case ESlotState::Done:
      break;
  }
  if (result == "ok") return {"ok", "OK"};
  if (result == "skipped") return {"ok", "Already done"};
  return {"failed", "FAILED"};
}

const char* EndWords(ERunEnd end) {
  switch (end) {
    case ERunEnd::Interrupted:
      return "stopped by the operator";
    case ERunEnd::Count:
      return "the count was reached";
    case ERunEnd::Idle:
      return "no module came for too long";
    case ERunEnd::LedgerLost:
      return "the ledger was lost";
    case ERunEnd::EventsLost:
      return "the events could not be written";
    case ERunEnd::Other:
      break;
  }
  return "stopped";
}

}  // namespace

CWebBoard::CWebBoard(CSseHub& hub) : m_hub(hub) {
  m_hub.Post("board", StateLocked(), true);
  m_thread = std::thread([this] { Post(); });
}

CWebBoard::~CWebBoard() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStopping = true;
  }
  m_wake.notify_one();
  m_thread.join();
}

void CWebBoard::Post() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (true) {
    m_wake.wait(lock, [this] { return m_bChanged || m_bStopping; });
    if (m_bStopping) break;
    m_bChanged = false;
    // Posted under the lock, so an older board never follows the run's end. The hub only
    // queues it: no browser is waited on here.
    m_hub.Post("board", StateLocked(), true);
    // The gap between two updates: changes meanwhile are gathered into the next one.
    m_wake.wait_for(lock, kGap, [this] { return m_bStopping; });
  }
  if (m_bChanged) m_hub.Post("board", StateLocked(), true);
}

CWebServer::CHandler CWebBoard::Handler() {
  return [this](const CWebRequest& request, CWebReply* reply) {
    if (request.m_strPath == "/") {
      const CWebAsset* page = FindWebAsset("board.html");
      if (page == nullptr) return false;
      reply->m_strBody = page->Text();
      return true;
    }
    if (request.m_strPath == "/board/state") {
      reply->m_strType = "application/json";
      reply->m_strBody = State();
      return true;
    }
    return false;
  };
}

CWebBoard::CTile& CWebBoard::At(const CEventPlace& place) {
  if (m_tiles.size() <= place.m_nSlot) m_tiles.resize(place.m_nSlot + 1);
  CTile& tile = m_tiles[place.m_nSlot];
  tile.m_strLabel = place.m_strLabel;
  tile.m_strPort = place.m_strPort;
  return tile;
}

void CWebBoard::OnArrived(const CModuleArrived& e) {
  std::lock_guard<std::mutex> lock(m_mutex);
  CTile& tile = At(e.m_at);
  tile.m_strStep.clear();
  tile.m_strName.clear();
  tile.m_strNumber.clear();
  tile.m_strResult.clear();
  tile.m_strAddress = e.m_at.m_address ? e.m_at.m_address->Text() : "";
  Publish();
}

void CWebBoard::OnProgrammingStarted(const CProgrammingStarted& e) {
  std::lock_guard<std::mutex> lock(m_mutex);
  CTile& tile = At(e.m_at);
  if (e.m_at.m_address) tile.m_strAddress = e.m_at.m_address->Text();
  tile.m_strName = e.m_values.m_strName;
  tile.m_strNumber = e.m_number ? std::to_string(*e.m_number) : "";
  Publish();
}

void CWebBoard::OnStep(const CStepStarted& e) {
  std::lock_guard<std::mutex> lock(m_mutex);
  At(e.m_at).m_strStep = std::to_string(e.m_nStep) + "/" +
                         std::to_string(CHeadlessView::kProgressSteps) + " " + e.m_strDoing;
  Publish();
}

void CWebBoard::OnAttemptEnded(const CAttemptEnded& e) {
  std::lock_guard<std::mutex> lock(m_mutex);
  CTile& tile = At(e.m_at);
  const EOutcome outcome = e.m_report.m_outcome;
  const std::string name = KnownName(e.m_report);
  if (!name.empty()) tile.m_strName = name;
  if (e.m_report.m_address) tile.m_strAddress = e.m_report.m_address->Text();
  tile.m_strStep.clear();
  if (outcome == EOutcome::Ok) {
    tile.m_strResult = "ok";
  } else if (outcome == EOutcome::AlreadyProgrammed) {
    tile.m_strResult = "skipped";
  } else {
    tile.m_strResult = "failed";
    tile.m_strFailure = FailureText(e.m_report);
  }
  Publish();
}

void CWebBoard::OnRemoved(const CModuleRemoved& e) {
  std::lock_guard<std::mutex> lock(m_mutex);
  CTile& tile = At(e.m_at);
  // The last failure stays in words until the next one; the module itself has gone.
  tile.m_strStep.clear();
  tile.m_strName.clear();
  tile.m_strNumber.clear();
  tile.m_strAddress.clear();
  tile.m_strResult.clear();
  Publish();
}

void CWebBoard::OnSlotState(const CSlotStateChanged& e) {
  std::lock_guard<std::mutex> lock(m_mutex);
  At(e.m_at).m_state = e.m_state;
  Publish();
}

void CWebBoard::OnCounts(const CRunCounts& e) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_counts = e;
  Publish();
}

void CWebBoard::OnRunEnded(const CRunEnded& e) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_counts = e.m_counts;
  m_bRunning = false;
  m_strEnd = EndWords(e.m_end);
  // At once: the server stops soon after, and the pages must see the end before their streams
  // close.
  m_bChanged = false;
  m_hub.Post("board", StateLocked(), true);
}

std::string CWebBoard::State() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return StateLocked();
}

std::string CWebBoard::StateLocked() const {
  nlohmann::json slots = nlohmann::json::array();
  for (size_t k = 0; k < m_tiles.size(); ++k) {
    const CTile& tile = m_tiles[k];
    const CStateWords words = Words(tile.m_state, tile.m_strResult);
    slots.push_back({{"slot", k + 1},
                     {"label", tile.m_strLabel},
                     {"port", tile.m_strPort},
                     {"state", words.m_szKey},
                     {"word", words.m_szWord},
                     {"step", tile.m_strStep},
                     {"name", tile.m_strName},
                     {"number", tile.m_strNumber},
                     {"address", tile.m_strAddress},
                     {"failure", tile.m_strFailure}});
  }
  const double perHour =
      m_counts.m_dHours > 0 ? static_cast<double>(m_counts.m_nOk) / m_counts.m_dHours : 0;
  const nlohmann::json state = {{"running", m_bRunning},
                                {"end", m_strEnd},
                                {"slots", slots},
                                {"ok", m_counts.m_nOk},
                                {"failed", m_counts.m_nFailed},
                                {"skipped", m_counts.m_nSkipped},
                                {"perHour", static_cast<long long>(perHour + 0.5)}};
  // A module's name is not always UTF-8: a bad byte is shown as U+FFFD, never an exception.
  return state.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void CWebBoard::Publish() {
  m_bChanged = true;
  m_wake.notify_one();
}
