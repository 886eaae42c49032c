#include <map>
#include <optional>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "engine/values/Profile.h"

namespace {

using CSaxJson = nlohmann::json;

// What `read --save` and `read --format json` write. Only name, pin, role and peer are
// programmed; the others are the record of where and how the profile was read.
const std::set<std::string>& KnownFields() {
  static const std::set<std::string> kFields = {"port", "address", "name", "pin",       "role",
                                                "peer", "result",  "pace", "fell_back", "message"};
  return kFields;
}

const char kNotAProfile[] = "not a profile (one JSON object, as read --save writes it)";

// Takes the profile's one object field by field and stops at the first thing a profile never
// holds: another JSON value around or inside it, an unknown field, a field given twice, a
// field that is neither a text nor null. Stopping there also bounds the nesting: the parser
// keeps its open arrays and objects on a stack of its own, and we never let it open a second.
class CProfileReader : public nlohmann::json_sax<CSaxJson> {
 public:
  std::map<std::string, std::optional<std::string>> m_fields;  // null as no value
  std::string m_strError;

  bool null() override { return Value(std::nullopt); }
  // The one record field that is no text: whether the pace fell back.
  bool boolean(bool) override { return m_strKey == "fell_back" ? Value(std::nullopt) : NotText(); }
  bool number_integer(number_integer_t) override { return NotText(); }
  bool number_unsigned(number_unsigned_t) override { return NotText(); }
  bool number_float(number_float_t, const string_t&) override { return NotText(); }
  bool string(string_t& text) override { return Value(text); }
  bool binary(binary_t&) override { return NotText(); }
  bool start_object(std::size_t) override {
    if (m_bInside) return NotText();
    m_bInside = true;
    return true;
  }
  bool key(string_t& name) override {
    m_strKey = name;
    if (KnownFields().count(name) == 0) {
      return Fail("unknown field \"" + Printable(name) +
                  "\" (a profile has port, address, name, pin, role, peer, result, pace, "
                  "fell_back and message)");
    }
    if (m_fields.count(name) != 0) return Fail("the field \"" + Printable(name) + "\" is repeated");
    return true;
  }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return NotText(); }
  bool end_array() override { return true; }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception&) override {
    // The parser's own text quotes the bytes it read, which may be anything.
    if (m_strError.empty()) {
      m_strError = std::string(kNotAProfile) + ": bad JSON at byte " + std::to_string(position);
    }
    return false;
  }

 private:
  bool m_bInside = false;
  std::string m_strKey;

  bool Fail(const std::string& error) {
    m_strError = error;
    return false;
  }
  bool NotText() {
    return Fail(m_bInside ? "\"" + Printable(m_strKey) + "\" is not a text" : kNotAProfile);
  }
  bool Value(std::optional<std::string> value) {
    if (!m_bInside) return Fail(kNotAProfile);
    m_fields[m_strKey] = std::move(value);
    return true;
  }
};

// One text field into value; false with the rule it breaks.
bool TakeText(const CProfileReader& profile, const char* field,
              std::string (*check)(const std::string&), std::optional<std::string>* value,
              std::string* error) {
  const auto found = profile.m_fields.find(field);
  if (found == profile.m_fields.end() || !found->second) return true;
  const std::string rule = check(*found->second);
  if (!rule.empty()) {
    *error = std::string("\"") + field + "\": " + rule;
    return false;
  }
  *value = found->second;
  return true;
}

}  // namespace

bool ParseProfile(const std::string& text, CSettingChanges* values, std::string* error) {
  CProfileReader profile;
  if (!CSaxJson::sax_parse(text, &profile)) {
    *error = profile.m_strError.empty() ? kNotAProfile : profile.m_strError;
    return false;
  }
  std::optional<std::string> role, peer;
  CSettingChanges taken;
  if (!TakeText(profile, "name", CheckName, &taken.m_name, error) ||
      !TakeText(profile, "pin", CheckPin, &taken.m_pin, error) ||
      !TakeText(profile, "role", CheckRole, &role, error) ||
      !TakeText(profile, "peer", CheckPeer, &peer, error)) {
    return false;
  }
  bool master = false;
  if (role && ParseRole(*role, &master)) taken.m_master = master;
  CAddress address;
  if (peer && ParsePeer(*peer, &address)) taken.m_peer = address;
  *values = taken;
  return true;
}
