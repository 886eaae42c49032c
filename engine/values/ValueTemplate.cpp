#include "engine/values/ValueTemplate.h"

#include <cstdio>
#include <cstring>

#include "engine/values/Settings.h"

namespace {

// The placeholders of a value template, in the order they are tried.
bool MatchPlaceholder(const std::string& text, size_t at, size_t* length, int* width,
                      std::string* kind) {
  static const char* const kFixed[] = {"{seq}", "{addr4}", "{addr}"};
  for (const char* fixed : kFixed) {
    if (text.compare(at, std::strlen(fixed), fixed) == 0) {
      *length = std::strlen(fixed);
      *width = 0;
      *kind = fixed;
      return true;
    }
  }
  // {seq:0N}: N from 1 to 9.
  if (text.compare(at, 6, "{seq:0") == 0 && at + 8 <= text.size() && text[at + 6] >= '1' &&
      text[at + 6] <= '9' && text[at + 7] == '}') {
    *length = 8;
    *width = text[at + 6] - '0';
    *kind = "{seq}";
    return true;
  }
  return false;
}

}  // namespace

std::string CValueTemplate::Check(const std::string& text) {
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '}') return "a '}' without its '{'";
    if (text[at] != '{') continue;
    size_t length = 0;
    int width = 0;
    std::string kind;
    if (!MatchPlaceholder(text, at, &length, &width, &kind)) {
      return "unknown placeholder at \"" + Printable(text.substr(at)) +
             "\" (there are {seq}, {seq:0N}, {addr} and {addr4})";
    }
    at += length - 1;
  }
  return std::string();
}

bool CValueTemplate::HasPlaceholder() const {
  return m_strText.find('{') != std::string::npos;
}

bool CValueTemplate::NeedsAddress() const {
  return m_strText.find("{addr") != std::string::npos;
}

std::string CValueTemplate::Expand(long long seq, const std::string& addressDigits) const {
  std::string out;
  for (size_t at = 0; at < m_strText.size(); ++at) {
    size_t length = 0;
    int width = 0;
    std::string kind;
    if (m_strText[at] != '{' || !MatchPlaceholder(m_strText, at, &length, &width, &kind)) {
      out.push_back(m_strText[at]);
      continue;
    }
    if (kind == "{seq}") {
      char number[32];
      std::snprintf(number, sizeof number, "%0*lld", width, seq);
      out += number;
    } else if (kind == "{addr}") {
      out += addressDigits;
    } else {
      out += addressDigits.size() >= 4 ? addressDigits.substr(addressDigits.size() - 4)
                                       : addressDigits;
    }
    at += length - 1;
  }
  return out;
}
