// A value with placeholders for gang programming: {seq} (the module's number), {seq:0N}
// (zero-padded to N digits), {addr} (its own address as 12 hex digits) and {addr4} (their last
// four).
#pragma once

#include <string>

class CValueTemplate {
 public:
  // The first thing wrong with the template's form, or empty.
  static std::string Check(const std::string& text);
  explicit CValueTemplate(std::string text) : m_strText(std::move(text)) {}

  bool HasPlaceholder() const;
  bool NeedsAddress() const;
  bool NeedsNumber() const { return m_strText.find("{seq") != std::string::npos; }
  // A well-formed template with seq and the address digits put in.
  std::string Expand(long long seq, const std::string& addressDigits) const;

 private:
  std::string m_strText;
};

// An address for checking a template's expansion before any module is read.
constexpr const char kSomeAddress[] = "000000000000";
