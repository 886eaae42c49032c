// Two stations sharing one PostgreSQL ledger (a private server for this test program): two
// gang processes at once, each under its own station name, share out numbers and names
// without a gap or a double; wrong credentials are refused before any port is opened; a server
// that goes away or freezes in the middle of a gang costs the record of the modules under way,
// not the modules, and says so; a password is shown nowhere, not even in `ps`.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/CliRig.h"
#include "ledger/LedgerRig.h"

namespace {

std::vector<std::string> Module(int n) {
  char address[32];
  std::snprintf(address, sizeof address, "00:1A:7D:00:00:%02X", n);
  return {"--address", address};
}

TEST(CliLedgerPostgres, TwoStationsAtOnceGiveEveryModuleItsOwnNumberAndName) {
  CCliRig rig;
  std::vector<std::vector<std::string>> modules;
  for (int n = 1; n <= 8; ++n) modules.push_back(Module(n));
  ASSERT_TRUE(rig.Start(modules));
  CPostgresBackend backend;
  const std::string url = backend.NewLocation();
  std::vector<pid_t> stations;
  for (int s = 0; s < 2; ++s) {
    stations.push_back(
        CCliRig::Spawn({"gang", "--ports", rig.Paths(4 * s, 4), "--ledger", url, "--station",
                        s == 0 ? "line-1" : "line-2", "--name", "P-{seq:03}", "--quiet"}));
  }
  for (pid_t station : stations) {
    int status = 0;
    ASSERT_TRUE(CCliRig::WaitExit(station, 120, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }

  CLedgerError error;
  auto ledger = OpenLedger(url, "test", &error);
  ASSERT_TRUE(ledger) << error.m_strText;
  std::set<long long> numbers;
  std::set<std::string> names;
  for (int n = 1; n <= 8; ++n) {
    CLedgerModule module;
    bool found = false;
    ASSERT_TRUE(ledger->FindByAddress(Module(n)[1], &found, &module, &error)) << error.m_strText;
    ASSERT_TRUE(found) << Module(n)[1];
    numbers.insert(module.m_nNumber);
    names.insert(module.m_values.m_name.value_or(""));
    EXPECT_EQ(rig.State(n - 1).at("name"), module.m_values.m_name.value_or(""));
    EXPECT_EQ(module.m_attempts.size(), 1u);
  }
  EXPECT_EQ(numbers, (std::set<long long>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(names.size(), 8u);
  CLedgerStats stats;
  ASSERT_TRUE(ledger->Stats(&stats, &error)) << error.m_strText;
  ASSERT_EQ(stats.m_stations.size(), 2u);
  EXPECT_EQ(stats.m_stations[0].m_strStation, "line-1");
  EXPECT_EQ(stats.m_stations[0].m_nModulesOk, 4);
  EXPECT_EQ(stats.m_stations[1].m_nModulesOk, 4);

  // What one station's export holds.
  ASSERT_EQ(
      rig.Run({"ledger", "export", "--format", "jsonl", "--ledger", url, "--station", "line-2"}), 0)
      << rig.m_strErr;
  EXPECT_EQ(std::count(rig.m_strOut.begin(), rig.m_strOut.end(), '\n'), 4);
}

TEST(CliLedgerPostgres, WrongCredentialsAreRefusedBeforeAnyPortIsOpened) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(1)}));
  std::string error;
  ASSERT_TRUE(g_pPostgres->m_server.Exec(
      "postgres",
      std::string("CREATE ROLE ") + CPrivatePostgres::kPasswordRole + " LOGIN PASSWORD 'right'",
      &error))
      << error;
  const std::string url =
      g_pPostgres->m_server.Url("postgres", CPrivatePostgres::kPasswordRole, "wrong");
  EXPECT_EQ(rig.Run({"gang", "--ledger", url, "--name", "P-{seq}"}), 4);
  EXPECT_NE(rig.m_strErr.find("password authentication failed"), std::string::npos) << rig.m_strErr;
  EXPECT_EQ(rig.m_strErr.find("wrong"), std::string::npos) << "the password is never shown";
  EXPECT_EQ(rig.Run({"program", "--ledger", url, "--name", "P"}), 4);
  EXPECT_TRUE(rig.Untouched(0));
}

// A gang of two slow modules on the ledger at url; fail is called once both have their names
// (and their PINs too, when late: then little is left before the ledger is asked again).
// What a lost ledger leaves: exit 4, the modules finished, the failure and each attempt not
// recorded named, their rows in the report. Returns the seconds from fail to the run's end.
double ExpectGangOutlivesItsLedger(const std::string& url, const std::function<void()>& fail,
                                   bool late = false) {
  CCliRig rig;
  // Slow answers keep the modules under way for seconds after their names are written.
  EXPECT_TRUE(rig.Start({{"--address", "00:1A:7D:00:00:01", "--delay", "300"},
                         {"--address", "00:1A:7D:00:00:02", "--delay", "300"}}));
  const std::string report = rig.File("report.csv");
  std::chrono::steady_clock::time_point failed;
  std::thread stopper([&] {
    for (int k = 0; k < 800; ++k) {
      const bool named = rig.State(0).at("name") == "G-1" && rig.State(1).at("name") == "G-2";
      if (named &&
          (!late || (rig.State(0).at("pin") == "4321" && rig.State(1).at("pin") == "4321")))
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    failed = std::chrono::steady_clock::now();
    fail();
  });
  const int code = rig.Run({"gang", "--ledger", url, "--name", "G-{seq}", "--pin", "4321",
                            "--report", report, "--quiet"});
  const auto ended = std::chrono::steady_clock::now();
  stopper.join();

  EXPECT_EQ(code, 4) << rig.m_strErr;
  // The modules under way finished: the settings after the name reached them too.
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(rig.State(k).at("pin"), "4321") << k;
  }
  EXPECT_EQ(rig.m_strErr.rfind("corvane: ledger postgresql://", 0), 0u) << rig.m_strErr;
  // Named in the order the modules ended, which either may win.
  for (const char* module : {"COM3 (00:1A:7D:00:00:01, ok)", "COM4 (00:1A:7D:00:00:02, ok)"}) {
    EXPECT_NE(rig.m_strErr.find(module), std::string::npos) << rig.m_strErr;
  }
  EXPECT_NE(rig.m_strErr.find("; their rows are in the report " + report), std::string::npos)
      << rig.m_strErr;
  std::ifstream file(report);
  std::stringstream csv;
  csv << file.rdbuf();
  for (const char* row : {"COM3,00:1A:7D:00:00:01,.*,G-1,4321,.*,ok,standard,false,[0-9.]+,1\r",
                          "COM4,00:1A:7D:00:00:02,.*,G-2,4321,.*,ok,standard,false,[0-9.]+,2\r"}) {
    EXPECT_TRUE(std::regex_search(csv.str(), std::regex(row))) << row << "\n" << csv.str();
  }
  return std::chrono::duration<double>(ended - failed).count();
}

TEST(CliLedgerPostgres, AServerGoneInTheMiddleOfAGangIsNamedAndTheRowsStayInTheReport) {
  // A server of this test's own, since it is stopped before the end.
  CPrivatePostgres server;
  std::string error;
  ASSERT_TRUE(server.Start(false, &error)) << error;
  ASSERT_TRUE(server.CreateDatabase("line", &error)) << error;
  ExpectGangOutlivesItsLedger(server.Url("line"), [&] { server.Stop(); });
}

// A password that a URL parser cuts at '%', '/', '?' and '@', and the pieces it falls into.
const std::string kHostile = "Qzx%7Kvw/Xjq?Wqk@Jyz:Pmb";
const std::string kEncoded = "Qzx%257Kvw%2FXjq%3FWqk%40Jyz%3APmb";
const char* const kPieces[] = {"Qzx", "7Kv", "Xjq", "Wqk", "Jyz", "Pmb"};

bool CreateSecretRole(const CPrivatePostgres& server, const std::string& database) {
  std::string error;
  const std::string role = CPrivatePostgres::kSecretRole;
  const bool ok =
      server.Exec("postgres", "CREATE ROLE " + role + " LOGIN PASSWORD '" + kHostile + "'",
                  &error) &&
      server.Exec("postgres", "CREATE DATABASE " + database + " OWNER " + role, &error);
  EXPECT_TRUE(ok) << error;
  return ok;
}

std::string Shown(const std::string& text) {
  for (const char* piece : kPieces) {
    if (text.find(piece) != std::string::npos) return piece;
  }
  return "";
}

TEST(CliLedgerPostgres, APasswordIsNeverShownWhateverTheUrlLooksLikeAndWhateverFails) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module(1)}));
  const CPrivatePostgres& server = g_pPostgres->m_server;
  ASSERT_TRUE(CreateSecretRole(server, "secret_line"));
  const std::string user = std::string(CPrivatePostgres::kSecretRole) + ":";
  const std::vector<std::string> urls = {
      // Wrong password, over TCP, over the socket, and with the scheme in capitals.
      server.TcpUrl("secret_line", CPrivatePostgres::kSecretRole, kEncoded + "x"),
      server.Url("secret_line", CPrivatePostgres::kSecretRole, kEncoded + "x"),
      "P" + server.TcpUrl("secret_line", CPrivatePostgres::kSecretRole, kEncoded + "x").substr(1),
      // The right password, no such database.
      server.TcpUrl("no_such_line", CPrivatePostgres::kSecretRole, kEncoded),
      // Not encoded: the parser cuts the URL in its middle.
      server.TcpUrl("secret_line", CPrivatePostgres::kSecretRole, kHostile),
      server.Url("secret_line", CPrivatePostgres::kSecretRole, kHostile),
      server.TcpUrl("secret_line", CPrivatePostgres::kSecretRole, "Xjq?Wqk/Jyz@Pmb"),
      "postgresql://127.0.0.1/line?user=x&password=" + kHostile,
      // No server there, and malformed hosts and ports.
      "postgresql://" + user + kEncoded + "@127.0.0.1:1/line",
      "postgresql://" + user + kEncoded + "@/line?host=" + rig.Dir() + "/none",
      "postgresql://" + user + kEncoded + "@[::1/line",
      "postgresql://" + user + kHostile + "@[::1/line",
      "postgresql://" + user + kEncoded + "@127.0.0.1:port/line",
      "postgresql://x@127.0.0.1/line?password=" + kEncoded + "&sslmode=bogus",
  };
  for (const std::string& url : urls) {
    EXPECT_EQ(rig.Run({"gang", "--ledger", url, "--name", "P-{seq}"}), 4) << url;
    EXPECT_EQ(Shown(rig.m_strErr + rig.m_strOut), "") << url << "\n" << rig.m_strErr;
    // An argument not expected is quoted back by the option parser.
    EXPECT_EQ(rig.Run({"ledger", "stats", "--ledger=" + url, url}), 64) << url;
    EXPECT_EQ(Shown(rig.m_strErr + rig.m_strOut), "") << url << "\n" << rig.m_strErr;
  }
  EXPECT_TRUE(rig.Untouched(0));
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

TEST(CliLedgerPostgres, APasswordInTheUrlIsGoneFromTheArgumentsWhileTheRunIsUnderWay) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", "00:1A:7D:00:00:01", "--delay", "300"}}));
  CPrivatePostgres server;
  std::string error;
  ASSERT_TRUE(server.Start(false, &error)) << error;
  ASSERT_TRUE(CreateSecretRole(server, "line"));
  const std::string url = server.TcpUrl("line", CPrivatePostgres::kSecretRole, kEncoded);
  const pid_t run = CCliRig::Spawn(
      {"gang", "--ports", rig.Paths(0, 1), "--ledger=" + url, "--name", "S-{seq}", "--quiet"});
  // Once the module has its name the ledger is open and the run is under way.
  for (int k = 0; k < 800 && rig.State(0).at("name") != "S-1"; ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  const std::string arguments = ReadFile("/proc/" + std::to_string(run) + "/cmdline");
  int status = 0;
  ASSERT_TRUE(CCliRig::WaitExit(run, 60, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(rig.State(0).at("name"), "S-1");
  EXPECT_NE(arguments.find("--ledger=postgresql://" + std::string(CPrivatePostgres::kSecretRole) +
                           ":***@127.0.0.1:"),
            std::string::npos)
      << arguments;
  EXPECT_EQ(Shown(arguments), "") << arguments;
}

TEST(CliLedgerPostgres, AFrozenServerEndsTheRunAsALostOneOverTheSocketAndOverTcp) {
  CPrivatePostgres server;
  std::string error;
  ASSERT_TRUE(server.Start(false, &error)) << error;
  ASSERT_TRUE(CreateSecretRole(server, "line_tcp"));
  ASSERT_TRUE(server.CreateDatabase("line_socket", &error)) << error;
  for (const std::string& url :
       {server.Url("line_socket"),
        server.TcpUrl("line_tcp", CPrivatePostgres::kSecretRole, kEncoded)}) {
    // SIGSTOP: the server keeps its connections open and answers nothing, not even with an
    // error; only a deadline of the client's own ends the wait.
    const double seconds = ExpectGangOutlivesItsLedger(
        url, [&] { server.Signal(SIGSTOP); }, true);
    server.Signal(SIGCONT);
    EXPECT_LT(seconds, 20.0) << url;
  }
}

// Reading never sets up a ledger: stats on a database without one is refused and leaves it
// empty; init, by the database's owner, makes the tables.
TEST(CliLedgerPostgres, OnlyInitMakesTheTablesOfAnEmptyDatabase) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({}));
  CPostgresBackend backend;
  const std::string url = backend.NewLocation();
  EXPECT_EQ(rig.Run({"ledger", "stats", "--ledger", url}), 4);
  EXPECT_NE(rig.m_strErr.find("not a ledger"), std::string::npos) << rig.m_strErr;
  EXPECT_FALSE(CPostgresBackend::Exec(url, "SELECT * FROM ledger_meta"));
  ASSERT_EQ(rig.Run({"ledger", "init", "--ledger", url}), 0) << rig.m_strErr;
  EXPECT_NE(rig.m_strOut.find("the next number is 1"), std::string::npos) << rig.m_strOut;
  EXPECT_EQ(rig.Run({"ledger", "stats", "--ledger", url}), 0) << rig.m_strErr;
}

}  // namespace
