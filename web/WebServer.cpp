#include "web/WebServer.h"

#include <httplib.h>

#include <cctype>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "web/WebAssets.h"
#include "web/WebAuth.h"

namespace {

const char* const kPolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "object-src 'none'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'";

// How long a quiet stream waits before a keep-alive comment.
constexpr std::chrono::seconds kIdle(15);

void Plain(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

}  // namespace

struct CWebServer::CImpl {
  httplib::Server m_server;
  CSseHub m_hub{CSseHub::kDefaultQueue, kMaxStreams};
  std::map<std::string, CHandler> m_routes;
  std::string m_strEventsPath;
  std::unique_ptr<CWebAuth> m_pAuth;
  bool m_bLoopbackOnly = true;
  std::thread m_thread;
  std::string m_strUrl;

  void Handle(const httplib::Request& req, httplib::Response& res);
  bool Authorized(const httplib::Request& req, httplib::Response& res);
  void Stream(httplib::Response& res);
  bool Page(const httplib::Request& req, httplib::Response& res);
};

bool CWebServer::CImpl::Authorized(const httplib::Request& req, httplib::Response& res) {
  CAuthRequest ask;
  const size_t mark = req.target.find('?');
  ask.m_strPath = req.target.substr(0, mark);
  ask.m_strQuery = mark == std::string::npos ? "" : req.target.substr(mark + 1);
  ask.m_strAuthorization = req.get_header_value("Authorization");
  ask.m_strCookie = req.get_header_value("Cookie");
  const CAuthVerdict verdict = m_pAuth->Judge(ask);
  if (verdict.m_kind == CAuthVerdict::EKind::Allow) return true;
  if (verdict.m_kind == CAuthVerdict::EKind::Redirect) {
    res.set_header("Set-Cookie", verdict.m_strSetCookie);
    res.set_redirect(verdict.m_strLocation, 303);
    return false;
  }
  res.set_header("WWW-Authenticate", "Bearer");
  Plain(res, 401, "401 a token is needed: open the address with ?token=... once");
  return false;
}

void CWebServer::CImpl::Stream(httplib::Response& res) {
  std::shared_ptr<CSseClient> client = m_hub.Join();
  if (!client) {
    Plain(res, 503, "503 too many live pages open");
    return;
  }
  res.set_header("Cache-Control", "no-store");
  auto first = std::make_shared<bool>(true);
  CSseHub* hub = &m_hub;
  res.set_chunked_content_provider(
      "text/event-stream",
      [client, first](size_t, httplib::DataSink& sink) {
        std::string text;
        if (*first) {
          // A lost stream is tried again soon: a restarted station is followed within seconds.
          text = "retry: 2000\n\n";
          *first = false;
        } else if (client->Next(kIdle, &text) == CSseClient::ENext::Ended) {
          sink.done();
          return true;
        }
        return sink.write(text.data(), text.size());
      },
      [hub, client](bool) { hub->Leave(client); });
}

bool CWebServer::CImpl::Page(const httplib::Request& req, httplib::Response& res) {
  CWebRequest request;
  request.m_strPath = req.path;
  // The first of a repeated name wins (emplace keeps what is there).
  for (const auto& param : req.params) request.m_query.emplace(param.first, param.second);
  const std::string assets = "/assets/";
  if (req.path.compare(0, assets.size(), assets) == 0) {
    const CWebAsset* asset = FindWebAsset(req.path.substr(assets.size()));
    if (asset == nullptr) return false;
    res.set_content(reinterpret_cast<const char*>(asset->m_pData), asset->m_nSize, asset->m_szType);
    return true;
  }
  const CHandler* handler = nullptr;
  size_t longest = 0;
  for (const auto& route : m_routes) {
    if (req.path.compare(0, route.first.size(), route.first) == 0 &&
        (handler == nullptr || route.first.size() > longest)) {
      handler = &route.second;
      longest = route.first.size();
    }
  }
  CWebReply reply;
  if (handler == nullptr || !(*handler)(request, &reply)) return false;
  res.status = reply.m_nStatus;
  res.set_header("Cache-Control", "no-store");
  if (!reply.m_strDownload.empty()) {
    // Only a plain name goes into the header: no quote, separator or line break can end it.
    std::string name = reply.m_strDownload;
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
    }
    res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
  }
  const std::string& to = reply.m_strLocation;
  if (!to.empty() && to[0] == '/' && to.compare(0, 2, "//") != 0 &&
      to.find_first_of("\\\r\n") == std::string::npos) {
    res.set_header("Location", to);
  }
  res.set_content(reply.m_strBody, reply.m_strType.c_str());
  return true;
}

void CWebServer::CImpl::Handle(const httplib::Request& req, httplib::Response& res) {
  if (req.method != "GET" && req.method != "HEAD") {
    res.set_header("Allow", "GET, HEAD");
    Plain(res, 405, "405 read-only: GET and HEAD only");
    return;
  }
  if (req.target.size() > kMaxTarget || req.params.size() > kMaxParams) {
    Plain(res, 414, "414 the address is too long");
    return;
  }
  if (m_bLoopbackOnly && !CWebAuth::LoopbackHostHeader(req.get_header_value("Host"))) {
    Plain(res, 403, "403 this server answers to its loopback address only");
    return;
  }
  if (!Authorized(req, res)) return;
  if (!m_strEventsPath.empty() && req.path == m_strEventsPath) {
    if (req.method == "HEAD") {
      res.set_header("Content-Type", "text/event-stream");
    } else {
      Stream(res);
    }
    return;
  }
  if (!Page(req, res)) Plain(res, 404, "404 no such page");
}

CWebServer::CWebServer() : m_pImpl(std::make_unique<CImpl>()) {}

CWebServer::~CWebServer() {
  Stop();
}

void CWebServer::Route(const std::string& prefix, CHandler handler) {
  m_pImpl->m_routes[prefix] = std::move(handler);
}

void CWebServer::EventsAt(const std::string& path) {
  m_pImpl->m_strEventsPath = path;
}

CSseHub& CWebServer::Events() {
  return m_pImpl->m_hub;
}

bool CWebServer::Start(const CWebListen& listen, std::string* error) {
  CImpl& impl = *m_pImpl;
  impl.m_pAuth = std::make_unique<CWebAuth>(listen.m_strToken);
  impl.m_bLoopbackOnly = listen.m_strToken.empty();
  // A streaming client holds a thread for as long as it follows. The pool is made once the
  // server is marked running, so a Stop after Start always finds it running.
  auto running = std::make_shared<std::promise<void>>();
  std::future<void> ready = running->get_future();
  impl.m_server.new_task_queue = [running] {
    running->set_value();
    return new httplib::ThreadPool(kThreads);
  };
  impl.m_server.set_default_headers({{"Content-Security-Policy", kPolicy},
                                     {"X-Content-Type-Options", "nosniff"},
                                     {"Referrer-Policy", "no-referrer"}});
  impl.m_server.set_payload_max_length(0);
  // cpp-httplib waits for a connection's next request by polling it every few milliseconds:
  // one request per connection leaves no idle connection polling between a page's requests
  // (and lets Stop end at once), and a connection that sends nothing (a browser's
  // speculative one) is given up after 2 seconds.
  impl.m_server.set_keep_alive_max_count(1);
  impl.m_server.set_keep_alive_timeout(2);
  impl.m_server.set_pre_routing_handler(
      [&impl](const httplib::Request& req, httplib::Response& res) {
        impl.Handle(req, res);
        return httplib::Server::HandlerResponse::Handled;
      });
  int port = listen.m_nPort;
  if (port == 0) {
    port = impl.m_server.bind_to_any_port(listen.m_strHost);
  } else if (!impl.m_server.bind_to_port(listen.m_strHost, port)) {
    port = -1;
  }
  const bool v6 = listen.m_strHost.find(':') != std::string::npos;
  const std::string host = v6 ? "[" + listen.m_strHost + "]" : listen.m_strHost;
  if (port <= 0) {
    *error = "cannot listen on " + host + ":" + std::to_string(listen.m_nPort) +
             ": the port is in use, or the address is not one of this computer's";
    return false;
  }
  impl.m_strUrl = "http://" + host + ":" + std::to_string(port) + "/";
  impl.m_thread = std::thread([&impl] { impl.m_server.listen_after_bind(); });
  ready.wait();
  return true;
}

std::string CWebServer::Url() const {
  return m_pImpl->m_strUrl;
}

void CWebServer::Stop() {
  CImpl& impl = *m_pImpl;
  // Streams first: their threads wake and end, so the pool can be joined.
  impl.m_hub.Close();
  if (impl.m_thread.joinable()) {
    impl.m_server.stop();
    impl.m_thread.join();
  }
}
