#include "cli/HttpOptions.h"

#include <filesystem>

#include "engine/os/Platform.h"
#include "platform/FilePolicy.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMinToken = 16;
constexpr size_t kMaxToken = 256;

bool IsIPv4(const std::string& text) {
  int parts = 0;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    const std::string part = text.substr(start, dot == std::string::npos ? dot : dot - start);
    if (part.empty() || part.size() > 3 ||
        part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255) {
      return false;
    }
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

}  // namespace

bool IsLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "::1" || (IsIPv4(host) && host.compare(0, 4, "127.") == 0);
}

bool ParseHttpAddress(const std::string& text, std::string* host, int* port, std::string* error) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    *error = "not ADDRESS:PORT (such as 127.0.0.1:8080)";
    return false;
  }
  std::string name = text.substr(0, colon);
  const std::string digits = text.substr(colon + 1);
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
    if (name.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) name.clear();
  } else if (name != "localhost" && !IsIPv4(name)) {
    name.clear();
  }
  if (name.empty()) {
    *error = "not an address: \"" + ShownPath(text.substr(0, colon)) +
             "\" (an IPv4 address, localhost, or an IPv6 address in brackets)";
    return false;
  }
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos || std::stoi(digits) > 65535) {
    *error = "not a port: \"" + ShownPath(digits) + "\" (0 to 65535; 0 takes a free one)";
    return false;
  }
  *host = name;
  *port = std::stoi(digits);
  return true;
}

bool ReadTokenFile(const std::string& path, const CInterrupt& interrupt, std::string* token,
                   std::string* error) {
  if (path == "-") {
    *error = "give a file; the standard input is not for a secret";
    return false;
  }
  std::string text;
  if (!ReadSmallFile(path, kMaxToken + 2, interrupt, &text, error)) return false;
#ifndef _WIN32
  std::error_code ec;
  const fs::perms mode = fs::status(path, ec).permissions();
  if (!ec && (mode & fs::perms::others_read) != fs::perms::none) {
    *error = ShownPath(path) + " may be read by every user; make it private (chmod o-r)";
    return false;
  }
#endif
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const bool chars = text.find_first_not_of(
                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~+/=") ==
                     std::string::npos;
  if (!chars || text.size() < kMinToken || text.size() > kMaxToken) {
    *error = ShownPath(path) +
             " does not hold a token: one line of 16 to 256 letters, digits or -._~+/=";
    return false;
  }
  *token = text;
  return true;
}

void CHttpOptions::Add(CLI::App* command) {
  CLI::Option* http =
      command
          ->add_option("--http", m_strAddress,
                       "Serve the web view at ADDRESS:PORT (127.0.0.1:0 takes a free port; the "
                       "address is printed); any address but loopback needs --http-token")
          ->check(CLI::Validator(
              [](std::string& text) {
                std::string host, error;
                int port = 0;
                return ParseHttpAddress(text, &host, &port, &error) ? std::string() : error;
              },
              "ADDRESS:PORT"));
  command
      ->add_option("--http-token", m_strTokenFile,
                   "A file holding the token a browser or script must show (a secret)")
      ->type_name("FILE")
      ->needs(http);
}

bool CHttpOptions::Resolve(const CInterrupt& interrupt, CWebListen* listen,
                           std::string* error) const {
  std::string why;
  if (!ParseHttpAddress(m_strAddress, &listen->m_strHost, &listen->m_nPort, &why)) {
    *error = "--http: " + why;
    return false;
  }
  listen->m_strToken.clear();
  if (!m_strTokenFile.empty() &&
      !ReadTokenFile(m_strTokenFile, interrupt, &listen->m_strToken, &why)) {
    *error = "--http-token: " + why;
    return false;
  }
  if (listen->m_strToken.empty() && !IsLoopbackHost(listen->m_strHost)) {
    *error = "--http: " + ShownPath(listen->m_strHost) +
             " is not a loopback address: give --http-token FILE, or reach the board through an "
             "SSH tunnel";
    return false;
  }
  return true;
}
