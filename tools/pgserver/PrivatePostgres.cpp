#include "tools/pgserver/PrivatePostgres.h"

#include <fcntl.h>
#include <ftw.h>
#include <glob.h>
#include <grp.h>
#include <dirent.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

// The newest installed major version's binaries, or empty (then the PATH's).
std::string FindBinaries() {
  glob_t found;
  std::string best;
  int bestMajor = -1;
  if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) {
      const std::string path = found.gl_pathv[i];
      const int major = std::atoi(path.c_str() + strlen("/usr/lib/postgresql/"));
      if (major > bestMajor) {
        bestMajor = major;
        best = path.substr(0, path.size() - strlen("/initdb"));
      }
    }
    globfree(&found);
  }
  return best;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

void RemoveTree(const std::string& dir) {
  nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs argv with stdout and stderr into log, as uid/gid when given (not -1); its exit status.
int RunChild(const std::vector<std::string>& argv, const std::string& log, uid_t uid, gid_t gid) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    if (gid != static_cast<gid_t>(-1) &&
        (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
      _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct CServerUser {
  uid_t m_uid = static_cast<uid_t>(-1);
  gid_t m_gid = static_cast<gid_t>(-1);
};

// The server refuses to run as root: then it runs as the postgres user.
bool ServerUser(CServerUser* user, std::string* error) {
  if (geteuid() != 0) return true;
  const passwd* pw = getpwnam("postgres");
  if (!pw) {
    *error = "running as root and there is no postgres user to run the server";
    return false;
  }
  user->m_uid = pw->pw_uid;
  user->m_gid = pw->pw_gid;
  return true;
}

// A TCP port of 127.0.0.1 nobody listens on now (the system picks it).
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (fd >= 0) close(fd);
  return port;
}

// The parent process of pid, from /proc; -1 when it cannot be read.
pid_t ParentOf(pid_t pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const size_t end = stat.rfind(')');
  int parent = -1;
  if (end == std::string::npos || sscanf(stat.c_str() + end + 1, " %*c %d", &parent) != 1)
    return -1;
  return parent;
}

}  // namespace

CPrivatePostgres::~CPrivatePostgres() {
  Stop();
}

bool CPrivatePostgres::Start(bool fsync, std::string* error) {
  CServerUser user;
  if (!ServerUser(&user, error)) return false;
  m_strBin = FindBinaries();
  char dir[] = "/tmp/corvane-pg-XXXXXX";
  if (!mkdtemp(dir)) {
    *error = std::string("cannot make a temporary folder: ") + strerror(errno);
    return false;
  }
  m_strDir = dir;
  if (user.m_gid != static_cast<gid_t>(-1) && chown(dir, user.m_uid, user.m_gid) != 0) {
    *error = std::string("cannot give the folder to postgres: ") + strerror(errno);
    RemoveTree(m_strDir);
    return false;
  }
  if (!StartGuard(error)) {
    RemoveTree(m_strDir);
    return false;
  }
  const std::string data = m_strDir + "/data";
  const std::string bin = m_strBin.empty() ? "" : m_strBin + "/";
  if (RunChild({bin + "initdb", "-D", data, "-U", "postgres", "-A", "trust", "--no-locale", "-E",
                "UTF8", "-N"},
               m_strDir + "/initdb.log", user.m_uid, user.m_gid) != 0) {
    *error = "initdb failed: " + ReadText(m_strDir + "/initdb.log");
    Stop();
    return false;
  }
  // The password role first: its line must match before the catch-all trust line does.
  {
    std::ofstream hba(data + "/pg_hba.conf", std::ios::trunc);
    for (const char* role : {kPasswordRole, kSecretRole}) {
      hba << "local all " << role << " scram-sha-256\nhost all " << role
          << " 127.0.0.1/32 scram-sha-256\n";
    }
    // Over TCP any local user could reach the server: only the password roles get in there.
    hba << "local all all trust\n";
  }
  m_nPort = FreePort();
  const std::string options = "-k " + m_strDir +
                              " -c listen_addresses=127.0.0.1 -c port=" + std::to_string(m_nPort) +
                              " -c fsync=" + (fsync ? "on" : "off") + " -c max_connections=50";
  if (RunChild({bin + "pg_ctl", "-D", data, "-l", m_strDir + "/server.log", "-w", "-t", "120", "-o",
                options, "start"},
               m_strDir + "/pg_ctl.log", user.m_uid, user.m_gid) != 0) {
    *error = "the server did not start: " + ReadText(m_strDir + "/server.log");
    Stop();
    return false;
  }
  return true;
}

bool CPrivatePostgres::StartGuard(std::string* error) {
  CServerUser user;
  ServerUser(&user, error);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  const std::string bin = m_strBin.empty() ? "" : m_strBin + "/";
  const std::vector<std::string> stop = {
      bin + "pg_ctl", "-D", m_strDir + "/data", "-m", "fast", "-w", "-t", "60", "stop"};
  m_nGuard = fork();
  if (m_nGuard < 0) {
    *error = std::string("fork: ") + strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (m_nGuard == 0) {
    // Ctrl-C reaches the whole process group: the guard outlives it to clean up.
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    // Only this process's end of the pipe may keep the guard waiting, not one inherited by
    // another guard or child.
    for (int fd = 3; fd < 1024; ++fd) {
      if (fd != fds[0]) close(fd);
    }
    char byte;
    for (;;) {
      const ssize_t n = read(fds[0], &byte, 1);
      if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    struct stat st;
    if (stat((m_strDir + "/data/postmaster.pid").c_str(), &st) == 0) {
      // A test that froze the server and never got to thaw it: a stopped server never stops.
      Signal(SIGCONT);
      RunChild(stop, "/dev/null", user.m_uid, user.m_gid);
    }
    RemoveTree(m_strDir);
    _exit(0);
  }
  close(fds[0]);
  m_hGuard = fds[1];
  return true;
}

void CPrivatePostgres::Stop() {
  if (m_hGuard < 0) return;
  close(m_hGuard);
  m_hGuard = -1;
  int status = 0;
  while (waitpid(m_nGuard, &status, 0) < 0 && errno == EINTR) {
  }
  m_nGuard = -1;
}

// The socket's name carries the port: the URLs name it too.
std::string CPrivatePostgres::Url(const std::string& database) const {
  return "postgresql://postgres@/" + database + "?host=" + m_strDir +
         "&port=" + std::to_string(m_nPort);
}

std::string CPrivatePostgres::Url(const std::string& database, const std::string& user,
                                  const std::string& password) const {
  return "postgresql://" + user + ":" + password + "@/" + database + "?host=" + m_strDir +
         "&port=" + std::to_string(m_nPort);
}

std::string CPrivatePostgres::TcpUrl(const std::string& database, const std::string& user,
                                     const std::string& password) const {
  return "postgresql://" + user + (password.empty() ? "" : ":" + password) +
         "@127.0.0.1:" + std::to_string(m_nPort) + "/" + database;
}

bool CPrivatePostgres::Signal(int sig) const {
  // The postmaster's pid is the first line of its pid file; its children are found by their
  // parent, since it starts no new ones while stopped.
  const pid_t server = std::atoi(ReadText(m_strDir + "/data/postmaster.pid").c_str());
  if (server <= 0 || kill(server, sig) != 0) return false;
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    if (pid > 0 && ParentOf(pid) == server) kill(pid, sig);
  }
  closedir(proc);
  return true;
}

bool CPrivatePostgres::Exec(const std::string& database, const std::string& sql,
                            std::string* error) const {
  PGconn* conn = PQconnectdb(Url(database).c_str());
  bool ok = PQstatus(conn) == CONNECTION_OK;
  if (ok) {
    PGresult* result = PQexec(conn, sql.c_str());
    ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
    PQclear(result);
  }
  if (!ok) *error = PQerrorMessage(conn);
  PQfinish(conn);
  return ok;
}

bool CPrivatePostgres::CreateDatabase(const std::string& name, std::string* error) const {
  return Exec("postgres", "CREATE DATABASE \"" + name + "\"", error);
}
