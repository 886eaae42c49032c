// Who may read the web view: everyone on a server without a token (it listens on loopback
// only), else whoever shows the token.
//
// A browser shows it once as ?token=... in the address; it is answered with a redirect to the
// same address without it and an HttpOnly, SameSite=Strict cookie that holds it from then on
// (EventSource cannot send a header, and the token leaves the address bar and the history).
// A script sends "Authorization: Bearer TOKEN". Every comparison takes the same time whatever
// the text compared, so timing tells nothing of the token.
#pragma once

#include <string>

struct CAuthRequest {
  std::string m_strPath;           // as the request gave it, still encoded
  std::string m_strQuery;          // the raw query without '?', still encoded
  std::string m_strAuthorization;  // the header's value, or empty
  std::string m_strCookie;         // the Cookie header's value, or empty
};

struct CAuthVerdict {
  enum class EKind { Allow, Redirect, Deny };
  EKind m_kind = EKind::Deny;
  std::string m_strLocation;   // Redirect: where to
  std::string m_strSetCookie;  // Redirect: the cookie to set
};

class CWebAuth {
 public:
  static constexpr const char* kCookie = "corvane_token";

  explicit CWebAuth(std::string token) : m_strToken(std::move(token)) {}
  CAuthVerdict Judge(const CAuthRequest& request) const;

  // Without a token the server listens on loopback alone, and a request must name a loopback
  // host: a page of another site whose name was made to point at 127.0.0.1 (DNS rebinding)
  // names its own host, and is refused. The port is not looked at (an SSH tunnel moves it).
  static bool LoopbackHostHeader(const std::string& host);
  // Equal texts, in a time that depends on the lengths only.
  static bool SameText(const std::string& a, const std::string& b);

 private:
  std::string m_strToken;
};
