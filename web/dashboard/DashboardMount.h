// The dashboard of a ledger that another part of the program opens and may create (a station's
// own): the dashboard opens its own connection to read, on the first request that needs it,
// since the file may not exist before the station's run makes it.
//
// Contract: Handle as CDashboard's, from any number of threads. A ledger that cannot be opened
// yet gets 503 and one line, and is tried again at the next request; once open, it stays open
// until the mount is destroyed.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "web/dashboard/Dashboard.h"

class CDashboardMount {
 public:
  CDashboardMount(std::string location, std::string station)
      : m_strLocation(std::move(location)), m_strStation(std::move(station)) {}

  bool Handle(const CWebRequest& request, CWebReply* reply);

 private:
  std::mutex m_mutex;  // over the opening only; the ledger takes its own lock
  std::string m_strLocation;
  std::string m_strStation;
  std::unique_ptr<CLedger> m_pLedger;
  std::unique_ptr<CDashboard> m_pDashboard;
};
