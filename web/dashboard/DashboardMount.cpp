#include "web/dashboard/DashboardMount.h"

bool CDashboardMount::Handle(const CWebRequest& request, CWebReply* reply) {
  const std::string& path = request.m_strPath;
  if (path != "/ledger" && path.compare(0, 8, "/ledger/") != 0) return false;
  CDashboard* dashboard = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pDashboard) {
      CLedgerError error;
      m_pLedger = OpenLedger(m_strLocation, m_strStation, &error, ELedgerAccess::Read);
      if (!m_pLedger) {
        reply->m_nStatus = 503;
        reply->m_strType = "text/plain; charset=utf-8";
        reply->m_strBody = error.m_strText + "\n";
        return true;
      }
      m_pDashboard = std::make_unique<CDashboard>(*m_pLedger);
    }
    dashboard = m_pDashboard.get();
  }
  return dashboard->Handle(request, reply);
}
