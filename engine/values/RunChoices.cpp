#include "engine/values/RunChoices.h"

#include "engine/os/Platform.h"
#include "engine/session/ModuleSession.h"

CSettingChanges CSettingChoice::Changes() const {
  CSettingChanges changes;
  if (NameGiven()) changes.m_name = m_strName;
  if (PinGiven()) changes.m_pin = m_strPin;
  bool master = false;
  if (RoleGiven() && ParseRole(m_strRole, &master)) changes.m_master = master;
  CAddress peer;
  if (PeerGiven() && ParsePeer(m_strPeer, &peer)) changes.m_peer = peer;
  return changes;
}

std::string CLedgerChoice::Station() const {
  return m_strStation.empty() ? HostName() : m_strStation;
}

EPace PaceOf(const std::string& pace) {
  return pace == PaceText(EPace::Fast) ? EPace::Fast : EPace::Standard;
}
