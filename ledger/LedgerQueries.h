// CLedgerQueries: the read-only questions a dashboard asks a ledger of any size. Each answer is
// counted or bucketed by the database and bounded in rows, so a page costs the same on a ledger
// of ten modules and of a million.
//
// Contract: as CLedger (one lock, blocking calls, one-line errors). Times are UTC in the
// ledger's form or a prefix of it (LedgerTimeMs); a span is [since, until), and an empty since
// or until leaves that end open. A time that is not one is refused (not unavailable). Every
// value is bound as a parameter: no text from a caller is ever part of a statement.
#pragma once

#include <string>
#include <vector>

#include "ledger/Ledger.h"

// The most rows any query hands back, whatever the caller asks for.
constexpr int kLedgerQueryMaxRows = 500;

struct CLedgerSpan {
  std::string m_strSince;
  std::string m_strUntil;
};

// Modules ok at one station in one hour: distinct addresses with an ok attempt in it.
struct CLedgerHourCount {
  std::string m_strStation;
  std::string m_strHour;  // "2025-05-20T10", the hour's UTC start to the hour
  long long m_nModulesOk = 0;
};

// A station's yield over a span: distinct addresses with an ok attempt there, and those tried
// there with none ok.
struct CLedgerYield {
  std::string m_strStation;
  long long m_nOk = 0;
  long long m_nFailed = 0;
  long long m_nAttempts = 0;
};

// Which attempts LatestAttempts gives; empty fields do not filter.
struct CLedgerAttemptQuery {
  std::string m_strStation;
  // kLedgerResultOk, "failed" (every other result), or one result word exactly.
  std::string m_strResult;
  std::string m_strSince;
  long long m_nBefore = 0;  // paging: only attempts whose id is below this; 0: the newest
  int m_nLimit = 50;        // at most kLedgerQueryMaxRows
};

// An attempt with the id that orders it (newer ones have higher ids), for paging.
struct CLedgerAttemptRow {
  long long m_nId = 0;
  CLedgerAttempt m_attempt;
};

// A module found by Search: bound ones carry their number and values, an address that only has
// attempts carries none (m_nNumber is -1).
struct CLedgerFound {
  long long m_nNumber = -1;
  std::string m_strAddress;
  std::string m_strName;
  std::string m_strLastResult;  // empty: never tried
  std::string m_strLastTime;
};

class CLedgerQueries {
 public:
  virtual ~CLedgerQueries() = default;

  // Modules ok per hour and station over the span, by hour then station; hours without one
  // are left out.
  virtual bool HourlyOk(const CLedgerSpan& span, std::vector<CLedgerHourCount>* counts,
                        CLedgerError* error) = 0;
  // Each station with attempts in the span, by name.
  virtual bool YieldByStation(const CLedgerSpan& span, std::vector<CLedgerYield>* yields,
                              CLedgerError* error) = 0;
  // The newest attempts matching the query, newest first.
  virtual bool LatestAttempts(const CLedgerAttemptQuery& query,
                              std::vector<CLedgerAttemptRow>* rows, CLedgerError* error) = 0;
  // Modules whose address or name holds text (letters' case ignored), or whose number it is,
  // by number (addresses without a binding last); at most limit (kLedgerQueryMaxRows).
  virtual bool Search(const std::string& text, int limit, std::vector<CLedgerFound>* found,
                      CLedgerError* error) = 0;
};
