// The web view's HTTP server: pages by path prefix, the built-in assets, and live updates by
// Server-Sent Events. The HTTP library (cpp-httplib) stays inside WebServer.cpp.
//
// Contract:
// - Only GET and HEAD are answered (405 for the rest); a request's target and query are
//   bounded (414 beyond them); a path no handler takes gets 404 and no file is ever opened.
// - Every response carries a Content-Security-Policy without inline script and nosniff.
// - With a token, every request shows it (see web/WebAuth.h) or gets 401. Without one, a
//   request must name a loopback host (403 otherwise: DNS rebinding).
// - Requests are served on the server's own pool of threads, large enough for kMaxStreams
//   streaming clients at once with threads to spare for page requests; a stream beyond that
//   gets 503. Handlers run on those threads, several at once.
// - Start binds before it returns (port 0: a free port, see Url) and then serves until Stop;
//   Stop ends every stream, waits for the requests under way and returns. The destructor
//   stops.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "web/SseHub.h"
#include "web/WebReply.h"

struct CWebListen {
  std::string m_strHost = "127.0.0.1";
  int m_nPort = 0;
  std::string m_strToken;  // empty: none (loopback only; cli/HttpOptions.h checks)
};

class CWebServer {
 public:
  using CHandler = std::function<bool(const CWebRequest&, CWebReply*)>;

  static constexpr size_t kMaxStreams = 64;
  static constexpr size_t kThreads = kMaxStreams + 16;
  static constexpr size_t kMaxTarget = 2048;  // path and query together, still encoded
  static constexpr size_t kMaxParams = 32;

  CWebServer();
  ~CWebServer();
  CWebServer(const CWebServer&) = delete;
  CWebServer& operator=(const CWebServer&) = delete;

  // Before Start. The handler of the longest prefix that matches the path is asked; false
  // from it is 404.
  void Route(const std::string& prefix, CHandler handler);
  // Before Start: Events() is streamed at this path (text/event-stream).
  void EventsAt(const std::string& path);
  CSseHub& Events();

  // Binds and starts serving on the server's threads; false with one line in *error.
  bool Start(const CWebListen& listen, std::string* error);
  // "http://127.0.0.1:43817/" once started.
  std::string Url() const;
  void Stop();

 private:
  struct CImpl;
  std::unique_ptr<CImpl> m_pImpl;
};
