#include "ledger/LedgerSecrets.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "ledger/Ledger.h"

namespace {

constexpr const char* kMask = "***";
constexpr const char* kPasswordKey = "password=";
// Shorter secrets are any letters of any word: they are hidden only where they stand between
// quotes or URL delimiters, as a parser's pieces of a URL are quoted.
constexpr size_t kShortestAnywhere = 3;
constexpr const char* kBounds = "\"'/?@&:=";

struct CSpan {
  size_t m_nBegin;
  size_t m_nEnd;
};

bool IsSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

size_t FindNoCase(const std::string& text, const char* word, size_t from) {
  const size_t length = strlen(word);
  for (size_t i = from; i + length <= text.size(); ++i) {
    size_t k = 0;
    while (k < length && std::tolower(static_cast<unsigned char>(text[i + k])) == word[k]) ++k;
    if (k == length) return i;
  }
  return std::string::npos;
}

// Where the scheme of a URL in text begins (its "://" at or after from), and where the text
// after "://" starts; false when there is no URL from there on.
bool FindUrl(const std::string& text, size_t from, size_t* scheme, size_t* start) {
  for (size_t mark = text.find("://", from); mark != std::string::npos;
       mark = text.find("://", mark + 3)) {
    size_t begin = mark;
    while (begin > from && IsSchemeChar(text[begin - 1])) --begin;
    if (begin == mark || !std::isalpha(static_cast<unsigned char>(text[begin]))) continue;
    *scheme = begin;
    *start = mark + 3;
    return true;
  }
  return false;
}

// The parts of url holding a password: after "user:" up to the last '@' (a password with an
// unencoded '@', '/' or '?' runs that far), and the value of every password= parameter.
// Sorted and merged, so they can be replaced from the last to the first.
std::vector<CSpan> PasswordSpans(const std::string& url, size_t start) {
  std::vector<CSpan> spans;
  const size_t at = url.rfind('@');
  const size_t colon = url.find(':', start);
  if (at != std::string::npos && at >= start && colon < at) spans.push_back({colon + 1, at});
  for (size_t key = FindNoCase(url, kPasswordKey, start); key != std::string::npos;
       key = FindNoCase(url, kPasswordKey, key + 1)) {
    if (url[key - 1] != '?' && url[key - 1] != '&') continue;
    const size_t value = key + strlen(kPasswordKey);
    spans.push_back({value, std::min(url.find('&', value), url.size())});
  }
  std::sort(spans.begin(), spans.end(),
            [](const CSpan& a, const CSpan& b) { return a.m_nBegin < b.m_nBegin; });
  std::vector<CSpan> merged;
  for (const CSpan& span : spans) {
    if (!merged.empty() && span.m_nBegin <= merged.back().m_nEnd) {
      merged.back().m_nEnd = std::max(merged.back().m_nEnd, span.m_nEnd);
    } else {
      merged.push_back(span);
    }
  }
  return merged;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// %XX decoded; a '%' not followed by two hex digits stays as it is.
std::string PercentDecode(const std::string& text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

void AddSecret(const std::string& secret, std::vector<std::string>* secrets) {
  if (secret.empty()) return;
  if (std::find(secrets->begin(), secrets->end(), secret) == secrets->end())
    secrets->push_back(secret);
}

bool IsBound(const std::string& text, size_t at) {
  return at >= text.size() || strchr(kBounds, text[at]) != nullptr;
}

void ReplaceAll(std::string* text, const std::string& secret) {
  const bool anywhere = secret.size() >= kShortestAnywhere;
  for (size_t at = text->find(secret); at != std::string::npos;) {
    if (anywhere || ((at == 0 || IsBound(*text, at - 1)) && IsBound(*text, at + secret.size()))) {
      text->replace(at, secret.size(), kMask);
      at = text->find(secret, at + strlen(kMask));
    } else {
      at = text->find(secret, at + 1);
    }
  }
}

}  // namespace

std::string RedactLocation(const std::string& location) {
  size_t scheme = 0, start = 0;
  if (!FindUrl(location, 0, &scheme, &start) || scheme != 0) return location;
  std::string shown = location;
  const std::vector<CSpan> spans = PasswordSpans(shown, start);
  for (auto span = spans.rbegin(); span != spans.rend(); ++span)
    shown.replace(span->m_nBegin, span->m_nEnd - span->m_nBegin, kMask);
  return shown;
}

std::vector<std::string> LocationSecrets(const std::string& location) {
  std::vector<std::string> secrets;
  size_t scheme = 0, start = 0;
  if (!FindUrl(location, 0, &scheme, &start) || scheme != 0) return secrets;
  for (const CSpan& span : PasswordSpans(location, start)) {
    const std::string raw = location.substr(span.m_nBegin, span.m_nEnd - span.m_nBegin);
    AddSecret(raw, &secrets);
    AddSecret(PercentDecode(raw), &secrets);
    for (size_t piece = 0; piece < raw.size();) {
      const size_t cut = std::min(raw.find_first_of("/?@&", piece), raw.size());
      if (cut > piece && cut - piece < raw.size()) {
        AddSecret(raw.substr(piece, cut - piece), &secrets);
        AddSecret(PercentDecode(raw.substr(piece, cut - piece)), &secrets);
      }
      piece = cut + 1;
    }
  }
  return secrets;
}

std::string RedactSecrets(const std::string& text, const std::vector<std::string>& secrets) {
  std::string line = text;
  // Longest first, so a piece never splits a longer secret before it is hidden whole.
  std::vector<std::string> ordered = secrets;
  std::sort(ordered.begin(), ordered.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& secret : ordered) {
    if (!secret.empty()) ReplaceAll(&line, secret);
  }
  // Any URL the text quotes, up to the space or quote that ends it.
  size_t scheme = 0, start = 0;
  for (size_t from = 0; FindUrl(line, from, &scheme, &start);) {
    const size_t end = std::min(line.find_first_of(" \t\r\n\"'", start), line.size());
    const std::string shown = RedactLocation(line.substr(scheme, end - scheme));
    line.replace(scheme, end - scheme, shown);
    from = scheme + shown.size();
  }
  return line;
}

std::string NormalizeScheme(const std::string& location) {
  size_t scheme = 0, start = 0;
  if (!FindUrl(location, 0, &scheme, &start) || scheme != 0) return location;
  std::string normal = location;
  for (size_t i = 0; i + 3 < start; ++i)
    normal[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(normal[i])));
  return normal;
}
