// The web view's pieces: live updates, the token, the options and the server on a real socket
// (the board itself is followed in a browser: tests/web).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "cli/HttpOptions.h"
#include "web/SseHub.h"
#include "web/WebAuth.h"
#include "web/WebServer.h"

namespace {

using namespace std::chrono_literals;

std::string Next(CSseClient& client, std::chrono::milliseconds wait = 0ms) {
  std::string text;
  return client.Next(wait, &text) == CSseClient::ENext::Message ? text : "";
}

TEST(SseHub, LateClientStartsFromTheKeptStateAndAFullOneIsDroppedWithoutStallingOthers) {
  CSseHub hub(2, 3);
  hub.Post("board", "1", true);
  auto slow = hub.Join();
  auto quick = hub.Join();
  EXPECT_EQ(Next(*quick), CSseHub::Format("board", "1"));
  hub.Post("board", "2", true);
  hub.Post("board", "3", true);  // the slow one now holds 1, 2, 3 over its bound of 2
  EXPECT_EQ(Next(*quick), CSseHub::Format("board", "2"));
  std::string text;
  EXPECT_EQ(slow->Next(0ms, &text), CSseClient::ENext::Ended);
  EXPECT_EQ(hub.Clients(), 1u);
  EXPECT_EQ(Next(*hub.Join()), CSseHub::Format("board", "3"));
  EXPECT_NE(hub.Join(), nullptr);
  EXPECT_EQ(hub.Join(), nullptr) << "beyond the most clients";
  hub.Close();
  EXPECT_EQ(Next(*quick), CSseHub::Format("board", "3")) << "what was posted before the end";
  EXPECT_EQ(quick->Next(10s, &text), CSseClient::ENext::Ended) << "Close wakes a waiting stream";
}

TEST(WebAuth, JudgesEachWayOfShowingTheToken) {
  const std::string token = "0123456789abcdefXYZ";
  struct Case {
    const char* path;
    std::string query, authorization, cookie;
    CAuthVerdict::EKind kind;
    const char* location;
  } cases[] = {
      {"/", "", "", "", CAuthVerdict::EKind::Deny, ""},
      {"/", "", "Bearer " + token, "", CAuthVerdict::EKind::Allow, ""},
      {"/", "", "Bearer " + token + "x", "", CAuthVerdict::EKind::Deny, ""},
      {"/", "", "Basic " + token, "", CAuthVerdict::EKind::Deny, ""},
      {"/", "", "", "a=b; corvane_token=" + token, CAuthVerdict::EKind::Allow, ""},
      {"/", "", "", "corvane_token=" + token.substr(1), CAuthVerdict::EKind::Deny, ""},
      {"/ledger/x", "q=1&token=" + token + "&n=2", "", "", CAuthVerdict::EKind::Redirect,
       "/ledger/x?q=1&n=2"},
      {"/", "token=" + token, "", "", CAuthVerdict::EKind::Redirect, "/"},
      {"//evil.example/", "token=" + token, "", "", CAuthVerdict::EKind::Redirect, "/"},
      {"/", "token=wrong", "", "", CAuthVerdict::EKind::Deny, ""},
  };
  const CWebAuth auth(token);
  for (const Case& c : cases) {
    const CAuthVerdict verdict = auth.Judge({c.path, c.query, c.authorization, c.cookie});
    EXPECT_EQ(verdict.m_kind, c.kind) << c.path << "?" << c.query << " " << c.cookie;
    EXPECT_EQ(verdict.m_strLocation, c.location) << c.path << "?" << c.query;
    if (verdict.m_kind == CAuthVerdict::EKind::Redirect) {
      EXPECT_NE(verdict.m_strSetCookie.find("HttpOnly; SameSite=Strict"), std::string::npos);
    }
  }
  EXPECT_EQ(CWebAuth("").Judge({"/", "", "", ""}).m_kind, CAuthVerdict::EKind::Allow);
  for (const char* host : {"127.0.0.1:8080", "localhost", "[::1]:80", "127.0.0.9"}) {
    EXPECT_TRUE(CWebAuth::LoopbackHostHeader(host)) << host;
  }
  for (const char* host : {"evil.example:8080", "127.0.0.1.evil.example", "", "[::2]:80"}) {
    EXPECT_FALSE(CWebAuth::LoopbackHostHeader(host)) << host;
  }
}

TEST(HttpOptions, AddressesAndTheTokenRule) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    int port;
    bool loopback;
  } cases[] = {
      {"127.0.0.1:0", true, "127.0.0.1", 0, true},
      {"localhost:8080", true, "localhost", 8080, true},
      {"[::1]:80", true, "::1", 80, true},
      {"0.0.0.0:8080", true, "0.0.0.0", 8080, false},
      {"10.1.2.3:65535", true, "10.1.2.3", 65535, false},
      {"10.1.2.3:65536", false, "", 0, false},
      {"8080", false, "", 0, false},
      {"host.example:80", false, "", 0, false},
      {"1.2.3.256:80", false, "", 0, false},
      {"127.0.0.1:-1", false, "", 0, false},
      {"[x;]:80", false, "", 0, false},
  };
  for (const Case& c : cases) {
    std::string host, error;
    int port = -1;
    ASSERT_EQ(ParseHttpAddress(c.text, &host, &port, &error), c.ok) << c.text << " " << error;
    if (c.ok) {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
      EXPECT_EQ(IsLoopbackHost(host), c.loopback) << c.text;
    }
  }
  CInterrupt interrupt;
  CHttpOptions options;
  options.m_strAddress = "0.0.0.0:0";
  CWebListen listen;
  std::string error;
  EXPECT_FALSE(options.Resolve(interrupt, &listen, &error));
  EXPECT_NE(error.find("--http-token"), std::string::npos) << error;
}

TEST(HttpOptions, TokenFileIsAPrivateRegularFileOfOneToken) {
  char folder[] = "/tmp/corvane-token-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string dir = folder;
  const std::string good = "s3cret-Token_0123456789";
  struct Case {
    const char* name;
    std::string text;
    mode_t mode;
    bool ok;
  } cases[] = {
      {"good", good + "\n", 0600, true},
      {"short", "abc\n", 0600, false},
      {"spaces", "two words and more text\n", 0600, false},
      {"everyone", good, 0644, false},
  };
  CInterrupt interrupt;
  for (const Case& c : cases) {
    const std::string path = dir + "/" + c.name;
    std::ofstream(path) << c.text;
    chmod(path.c_str(), c.mode);
    std::string token, error;
    EXPECT_EQ(ReadTokenFile(path, interrupt, &token, &error), c.ok) << c.name << " " << error;
    EXPECT_EQ(token, c.ok ? good : "") << c.name;
    EXPECT_EQ(error.find(good), std::string::npos) << "the secret never in a message";
  }
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string token, error;
  EXPECT_FALSE(ReadTokenFile(fifo, interrupt, &token, &error)) << "refused, not waited on";
  EXPECT_FALSE(ReadTokenFile(dir, interrupt, &token, &error));
  std::system(("rm -rf " + dir).c_str());
}

// A connection to the server on loopback with request sent.
int Send(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::string text = request + "\r\nHost: 127.0.0.1\r\n\r\n";
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  return fd;
}

// One request that is not a stream: the status and the whole answer.
int Ask(int port, const std::string& request, std::string* answer = nullptr) {
  const int fd = Send(port, request + "\r\nConnection: close");
  std::string got;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) got.append(buffer, n);
  close(fd);
  if (answer != nullptr) *answer = got;
  return got.size() > 12 ? std::atoi(got.c_str() + 9) : 0;
}

int PortOf(const std::string& url) {
  return std::atoi(url.c_str() + url.rfind(':') + 1);
}

TEST(WebServer, AnswersReadOnlyRequestsWithThePolicyOnEach) {
  CWebServer server;
  server.Route("/", [](const CWebRequest& r, CWebReply* reply) {
    reply->m_strBody = "root " + r.Param("q", "-");
    return r.m_strPath == "/";
  });
  server.Route("/go", [](const CWebRequest& r, CWebReply* reply) {
    reply->m_nStatus = 303;
    reply->m_strLocation = r.Param("to");
    return true;
  });
  server.Route("/deep/", [](const CWebRequest&, CWebReply* reply) {
    reply->m_strBody = "deep";
    reply->m_strDownload = "a\"b\r\n.csv";
    return true;
  });
  std::string error;
  ASSERT_TRUE(server.Start({"127.0.0.1", 0, ""}, &error)) << error;
  const int port = PortOf(server.Url());
  struct Case {
    std::string request;
    int status;
    const char* body;
  } cases[] = {
      {"GET /?q=a&q=b HTTP/1.1", 200, "root a"},
      {"HEAD / HTTP/1.1", 200, ""},
      {"GET /deep/x HTTP/1.1", 200, "filename=\"a_b__.csv\""},
      {"POST / HTTP/1.1\r\nContent-Length: 0", 405, ""},
      {"DELETE / HTTP/1.1", 405, ""},
      {"GET /elsewhere HTTP/1.1", 404, ""},
      {"GET / HTTP/1.1\r\nHost: rebound.example", 403, ""},
      {"GET /go?to=/ledger/ HTTP/1.1", 303, "Location: /ledger/"},
      {"GET /assets/board.css HTTP/1.1", 200, "text/css"},
      {"GET /assets/../../etc/passwd HTTP/1.1", 404, ""},
      {"GET /assets/%2e%2e%2fCMakeLists.txt HTTP/1.1", 404, ""},
      {"GET /?q=" + std::string(3000, 'x') + " HTTP/1.1", 414, ""},
  };
  for (const Case& c : cases) {
    std::string answer;
    EXPECT_EQ(Ask(port, c.request, &answer), c.status) << c.request.substr(0, 60);
    EXPECT_NE(answer.find("Content-Security-Policy: default-src 'self'; script-src 'self';"),
              std::string::npos)
        << c.request.substr(0, 60);
    EXPECT_NE(answer.find("X-Content-Type-Options: nosniff"), std::string::npos);
    EXPECT_NE(answer.find(c.body), std::string::npos) << answer;
  }
  std::string answer;
  EXPECT_EQ(Ask(port, "GET /go?to=//evil.example/ HTTP/1.1", &answer), 303);
  EXPECT_EQ(answer.find("Location"), std::string::npos) << "never to another site";
}

TEST(WebServer, ServesAllItsStreamsAndPagesAtOnceAndStopsWhileTheyFollow) {
  CWebServer server;
  server.Route("/", [](const CWebRequest&, CWebReply* reply) { return reply != nullptr; });
  server.EventsAt("/events");
  std::string error;
  ASSERT_TRUE(server.Start({"127.0.0.1", 0, ""}, &error)) << error;
  const int port = PortOf(server.Url());
  std::vector<int> streams;
  for (size_t k = 0; k < CWebServer::kMaxStreams; ++k) {
    streams.push_back(Send(port, "GET /events HTTP/1.1"));
    char buffer[256];
    ASSERT_GT(read(streams.back(), buffer, sizeof buffer), 0) << "stream " << k;
  }
  EXPECT_EQ(server.Events().Clients(), CWebServer::kMaxStreams);
  EXPECT_EQ(Ask(port, "GET /events HTTP/1.1"), 503);
  EXPECT_EQ(Ask(port, "GET / HTTP/1.1"), 200) << "a page beside every stream";
  server.Stop();
  for (int fd : streams) close(fd);
}

}  // namespace
