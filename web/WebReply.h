// A request as the web view's pages see it, and their reply: plain values, so that a page is
// tested without a server and the HTTP library stays in one place (the server).
//
// Contract:
// - m_strPath is the request's path without its query ("/ledger/module"), already
//   percent-decoded; m_query holds the query's parameters, decoded, each name once (the first
//   one given wins).
// - A handler fills the reply and returns true, or returns false for a path that is not its
//   own (the server answers 404, and never looks for a file).
// - m_strBody is sent as it stands with m_strType; a non-empty m_strDownload is the file name
//   the browser offers to save it under. A non-empty m_strLocation (with a 3xx status) is where
//   the browser is sent: a path of this server ("/ledger/"), never another site.
#pragma once

#include <map>
#include <string>

struct CWebRequest {
  std::string m_strPath;
  std::map<std::string, std::string> m_query;

  // The parameter's value, or fallback when the request has none.
  std::string Param(const std::string& name, const std::string& fallback = "") const {
    auto it = m_query.find(name);
    return it == m_query.end() ? fallback : it->second;
  }
};

struct CWebReply {
  int m_nStatus = 200;
  std::string m_strType = "text/html; charset=utf-8";
  std::string m_strBody;
  std::string m_strDownload;
  std::string m_strLocation;
};
