#include "engine/values/ModuleValues.h"

#include "engine/values/ValueTemplate.h"

EValues MakeModuleValues(const CSettingChoice& settings, const CPlan* plan, const std::string& port,
                         const CModuleSettings* read, long long number, CModuleSettings* values,
                         bool* named, std::string* error) {
  *values = read != nullptr ? *read : CModuleSettings();
  const std::string digits = values->m_address ? values->m_address->Digits() : std::string();
  const long long seq = number;
  CSettingChanges given = settings.Changes();
  if (given.m_name) given.m_name = CValueTemplate(*given.m_name).Expand(seq, digits);
  if (given.m_pin) given.m_pin = CValueTemplate(*given.m_pin).Expand(seq, digits);
  *values = given.Over(*values);
  *named = static_cast<bool>(given.m_name);
  if (plan != nullptr) {
    const auto row = plan->find(digits);
    if (row == plan->end()) return EValues::NotInPlan;
    *values = row->second.Over(*values);
    *named = *named || row->second.m_name;
  }
  std::string rule = CheckName(values->m_strName);
  if (rule.empty()) rule = CheckPin(values->m_strPin);
  if (rule.empty()) return EValues::Ok;
  *error = Printable(port) + ": name \"" + Printable(values->m_strName) + "\", PIN \"" +
           Printable(values->m_strPin) + "\": " + rule;
  return EValues::Refused;
}

std::string CheckValueTemplates(const CSettingChoice& settings, long long last, bool several) {
  const long long number = last;
  if (settings.NameGiven()) {
    const CValueTemplate name(settings.m_strName);
    if (several && !name.HasPlaceholder()) {
      return "--name: every module would get the name \"" + Printable(settings.m_strName) +
             "\"; number them with {seq} or tell them apart with {addr} or {addr4}";
    }
    const std::string rule = CheckName(name.Expand(number, kSomeAddress));
    if (!rule.empty()) {
      return "--name: " + rule + " (as module " + std::to_string(number) + " it would be \"" +
             Printable(name.Expand(number, kSomeAddress)) + "\")";
    }
  }
  if (settings.PinGiven()) {
    const std::string rule =
        CheckPin(CValueTemplate(settings.m_strPin).Expand(number, kSomeAddress));
    if (!rule.empty()) return "--pin: " + rule;
  }
  return std::string();
}
