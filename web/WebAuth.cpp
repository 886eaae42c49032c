#include "web/WebAuth.h"

#include <vector>

namespace {

// The parts of a "a=1&b=2" or "a=1; b=2" list, split on sep with spaces trimmed.
std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(sep, start);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(start, end - start);
    const size_t first = part.find_first_not_of(' ');
    part = first == std::string::npos ? "" : part.substr(first);
    if (!part.empty()) parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

bool CWebAuth::LoopbackHostHeader(const std::string& host) {
  std::string name = host;
  if (!name.empty() && name[0] == '[') {
    name = name.substr(0, name.find(']') + 1);
  } else {
    name = name.substr(0, name.find(':'));
  }
  return name == "localhost" || name == "[::1]" ||
         (name.compare(0, 4, "127.") == 0 &&
          name.find_first_not_of("0123456789.") == std::string::npos);
}

bool CWebAuth::SameText(const std::string& a, const std::string& b) {
  // Every byte of the longer text is looked at, whatever the first difference.
  const size_t n = a.size() > b.size() ? a.size() : b.size();
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff |= static_cast<unsigned char>(x ^ y);
  }
  return diff == 0;
}

CAuthVerdict CWebAuth::Judge(const CAuthRequest& request) const {
  CAuthVerdict verdict;
  if (m_strToken.empty()) {
    verdict.m_kind = CAuthVerdict::EKind::Allow;
    return verdict;
  }
  const std::string bearer = "Bearer ";
  if (request.m_strAuthorization.compare(0, bearer.size(), bearer) == 0 &&
      SameText(request.m_strAuthorization.substr(bearer.size()), m_strToken)) {
    verdict.m_kind = CAuthVerdict::EKind::Allow;
    return verdict;
  }
  for (const std::string& part : Split(request.m_strCookie, ';')) {
    const std::string name = std::string(kCookie) + "=";
    if (part.compare(0, name.size(), name) == 0 && SameText(part.substr(name.size()), m_strToken)) {
      verdict.m_kind = CAuthVerdict::EKind::Allow;
      return verdict;
    }
  }
  // The token in the address: the same address without it, and the cookie from then on.
  std::string rest;
  bool given = false;
  for (const std::string& part : Split(request.m_strQuery, '&')) {
    if (part.compare(0, 6, "token=") == 0) {
      given = given || SameText(Decode(part.substr(6)), m_strToken);
    } else {
      rest += (rest.empty() ? "" : "&") + part;
    }
  }
  if (given) {
    verdict.m_kind = CAuthVerdict::EKind::Redirect;
    // Only a path of this server: "//host/..." would send the browser elsewhere.
    const bool local = request.m_strPath.size() >= 1 && request.m_strPath[0] == '/' &&
                       request.m_strPath.compare(0, 2, "//") != 0 &&
                       request.m_strPath.find_first_of("\\\r\n") == std::string::npos;
    verdict.m_strLocation = (local ? request.m_strPath : "/") + (rest.empty() ? "" : "?" + rest);
    verdict.m_strSetCookie =
        std::string(kCookie) + "=" + m_strToken + "; Path=/; HttpOnly; SameSite=Strict";
  }
  return verdict;
}
