// Framework-owned wrapper objects for handles the program did not wrap itself (a dialog's
// unbound control, the DC of a paint message, a window's system menu). One wrapper per handle
// value, reused while the handle lives. Wrappers never release their handle: removal
// detaches first. Entries whose handle died are dropped when the map grows, which keeps it
// to the handles in use.
#pragma once

#include <map>
#include <memory>

template <class THandle, class TObject, BOOL (*pfnIsLive)(THandle)>
class CTempMap {
 public:
  ~CTempMap() { Clear(); }

  // Null for a null handle or when memory runs out.
  TObject* Lookup(THandle h) {
    if (!h) return nullptr;
    auto it = m_map.find(h);
    if (it != m_map.end()) return it->second.get();
    if (m_map.size() >= m_nPurgeAt) Purge();
    std::unique_ptr<TObject> p(new (std::nothrow) TObject);
    if (!p) return nullptr;
    p->Attach(h);
    TObject* pRaw = p.get();
    m_map.emplace(h, std::move(p));
    return pRaw;
  }

  void Remove(THandle h) {
    auto it = m_map.find(h);
    if (it == m_map.end()) return;
    it->second->Detach();
    m_map.erase(it);
  }

  void Clear() {
    for (auto& entry : m_map) entry.second->Detach();
    m_map.clear();
  }

 private:
  void Purge() {
    for (auto it = m_map.begin(); it != m_map.end();) {
      if (pfnIsLive(it->first)) {
        ++it;
      } else {
        it->second->Detach();
        it = m_map.erase(it);
      }
    }
    m_nPurgeAt = m_map.size() * 2 + 32;
  }

  std::map<THandle, std::unique_ptr<TObject>> m_map;
  size_t m_nPurgeAt = 32;
};
