// The four settings a module holds, as flags: which ones a module acknowledged, which ones it
// may hold without its word for it, which ones a verifying read found different. Made once
// from the protocol's names; said in one order everywhere: name, pin, role, peer.
#pragma once

#include <string>
#include <vector>

enum class ESetting : unsigned { Name = 1, Pin = 2, Role = 4, Peer = 8 };

constexpr ESetting kSettingsInOrder[] = {ESetting::Name, ESetting::Pin, ESetting::Role,
                                         ESetting::Peer};

// "name", "pin", "role" or "peer".
inline const char* SettingName(ESetting setting) {
  switch (setting) {
    case ESetting::Name:
      return "name";
    case ESetting::Pin:
      return "pin";
    case ESetting::Role:
      return "role";
    case ESetting::Peer:
      return "peer";
  }
  return "";
}

class CSettingSet {
 public:
  CSettingSet() = default;
  // The settings of these names; a name that is none of the four is left out.
  static CSettingSet FromNames(const std::vector<std::string>& names) {
    CSettingSet set;
    for (const std::string& name : names) {
      for (ESetting setting : kSettingsInOrder) {
        if (name == SettingName(setting)) set.Add(setting);
      }
    }
    return set;
  }

  void Add(ESetting setting) { m_bits |= static_cast<unsigned>(setting); }
  bool Has(ESetting setting) const { return (m_bits & static_cast<unsigned>(setting)) != 0; }
  bool Empty() const { return m_bits == 0; }
  CSettingSet Without(CSettingSet other) const {
    CSettingSet set;
    set.m_bits = m_bits & ~other.m_bits;
    return set;
  }
  // The settings in the set, in order.
  std::vector<ESetting> Each() const {
    std::vector<ESetting> settings;
    for (ESetting setting : kSettingsInOrder) {
      if (Has(setting)) settings.push_back(setting);
    }
    return settings;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (ESetting setting : Each()) names.emplace_back(SettingName(setting));
    return names;
  }
  bool operator==(CSettingSet other) const { return m_bits == other.m_bits; }
  bool operator!=(CSettingSet other) const { return m_bits != other.m_bits; }

 private:
  unsigned m_bits = 0;
};
