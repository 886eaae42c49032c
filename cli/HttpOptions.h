// --http ADDRESS:PORT and --http-token FILE, for a command that serves the web view.
//
// The address is an IPv4 address, "localhost" or an IPv6 address in brackets ("[::1]:8080");
// port 0 takes a free port. Any address but loopback needs a token: a browser elsewhere on the
// network must not read the line's board without one. The token is a secret: read from its
// file, never printed, never put in a message.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "engine/os/Interrupt.h"
#include "web/WebServer.h"

struct CHttpOptions {
  std::string m_strAddress;  // empty: not given
  std::string m_strTokenFile;

  void Add(CLI::App* command);
  bool Given() const { return !m_strAddress.empty(); }
  // The address and token to listen with; false with one line in *error (exit 64).
  bool Resolve(const CInterrupt& interrupt, CWebListen* listen, std::string* error) const;
};

// "HOST:PORT" split and checked; false with the reason in *error.
bool ParseHttpAddress(const std::string& text, std::string* host, int* port, std::string* error);
bool IsLoopbackHost(const std::string& host);
// The token of a file: one line of 16 to 256 letters, digits or "-._~+/=", the line's end
// trimmed. Read as every small input file is (engine/os/Platform.h: a regular file only, never
// a FIFO that would hang the start), and on POSIX one that other users cannot read. False with
// the reason in *error, which never holds the file's text.
bool ReadTokenFile(const std::string& path, const CInterrupt& interrupt, std::string* token,
                   std::string* error);
