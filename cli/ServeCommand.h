// `corvane serve --ledger LOCATION [--http ADDRESS:PORT] [--http-token FILE]`: the ledger's
// dashboard in a browser, for one station's ledger or a line's (PostgreSQL), with no station
// running.
//
// Contract: the ledger is opened to read only, before the server starts: one that cannot be
// opened is one line and kExitLedger, and nothing is served. The address defaults to
// 127.0.0.1:8080; a bad address or a token missing for one that is not loopback is one line and
// kExitUsage. Once listening, the URL is one line on err; the command then serves until
// interrupted (SIGINT, SIGTERM) and ends with 0. "/" leads to the dashboard at "/ledger/".
#pragma once

#include <string>

#include "cli/CommonOptions.h"
#include "cli/HttpOptions.h"
#include "engine/os/RunEnv.h"

constexpr const char* kServeDefaultAddress = "127.0.0.1:8080";

struct CServeOptions {
  CLedgerOptions m_ledger;
  CHttpOptions m_http;
};

CLI::App* AddServeCommand(CLI::App& app, CServeOptions& options);
int RunServe(const CServeOptions& options, CRunEnv& env);
