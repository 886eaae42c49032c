// CSqlLedger: the ledger's logic over one database connection, the same on every engine.
//
// Contract: as CLedger. The connection arrives open and with the current schema; the ledger
// owns it and takes its lock around every call.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "ledger/Ledger.h"
#include "ledger/LedgerQueries.h"
#include "ledger/SqlConnection.h"

// The schema version this program writes and reads; older ones are migrated forward.
constexpr int kLedgerSchemaVersion = 2;

class CSqlLedger final : public CLedger, public CLedgerQueries {
 public:
  CSqlLedger(std::unique_ptr<CSqlConnection> connection, std::string location, std::string station);

  const std::string& Location() const override { return m_strLocation; }
  const std::string& Station() const override { return m_strStation; }
  bool SetStart(long long first, CLedgerError* error) override;
  bool NextNumber(long long* next, CLedgerError* error) override;
  bool Bind(const std::string& address, const CLedgerValuesFor& valuesFor, CLedgerModule* module,
            bool* bound, CLedgerError* error) override;
  bool BindAll(const std::vector<std::string>& addresses, const CLedgerValuesForEach& valuesFor,
               std::vector<CLedgerModule>* modules, std::vector<ELedgerBinding>* outcomes,
               CLedgerError* error) override;
  bool BindName(const std::string& address, const std::string& name, CLedgerError* error) override;
  bool NameHolder(const std::string& name, bool* found, std::string* address, long long* number,
                  CLedgerError* error) override;
  bool FindByAddress(const std::string& address, bool* found, CLedgerModule* module,
                     CLedgerError* error) override;
  bool FindByName(const std::string& name, bool* found, CLedgerModule* module,
                  CLedgerError* error) override;
  bool RecordAttempt(const CLedgerAttempt& attempt, CLedgerError* error) override;
  using CLedger::Export;
  bool Export(const CLedgerFilter& filter, const CLedgerAttemptSink& sink,
              CLedgerError* error) override;
  bool Latest(const CLedgerLatestSink& sink, CLedgerError* error) override;
  bool Stats(CLedgerStats* stats, CLedgerError* error) override;
  bool CheckIntegrity(CLedgerError* error) override;
  CLedgerQueries& Queries() override;

  // The dashboard's queries (SqlLedgerQueries.cpp).
  bool HourlyOk(const CLedgerSpan& span, std::vector<CLedgerHourCount>* counts,
                CLedgerError* error) override;
  bool YieldByStation(const CLedgerSpan& span, std::vector<CLedgerYield>* yields,
                      CLedgerError* error) override;
  bool LatestAttempts(const CLedgerAttemptQuery& query, std::vector<CLedgerAttemptRow>* rows,
                      CLedgerError* error) override;
  bool Search(const std::string& text, int limit, std::vector<CLedgerFound>* found,
              CLedgerError* error) override;

 private:
  enum class EBind { Done, Refused, Retry, Failed };
  using CValuesNow =
      std::function<ELedgerValues(long long number, CLedgerValues* values, std::string* refusal)>;

  EBind BindOnce(const std::string& address, const CLedgerValuesFor& valuesFor,
                 CLedgerModule* module, bool* bound, CLedgerError* error);
  EBind BindAllOnce(const std::vector<std::string>& addresses,
                    const CLedgerValuesForEach& valuesFor, std::vector<CLedgerModule>* modules,
                    std::vector<ELedgerBinding>* outcomes, CLedgerError* error);
  // Inside a write transaction that holds the counter, whose next number is *next: the
  // address's binding, or a new one (*next goes up). Neither commits nor rolls back; on
  // Refused *error has the reason, on Failed the connection's error is left to report.
  EBind BindIn(const std::string& address, const CValuesNow& valuesFor, long long* next,
               CLedgerModule* module, ELedgerBinding* outcome, std::string* refusal);
  // Begins the write transaction and takes the counter: its next number.
  bool BeginBinding(long long* next);
  bool EndBinding(long long next, long long first);
  bool FindWhere(const char* column, const std::string& key, bool* found, CLedgerModule* module,
                 CLedgerError* error);
  bool LoadAttempts(const std::string& address, std::vector<CLedgerAttempt>* attempts,
                    CLedgerError* error);
  bool StationStats(CLedgerStats* stats, CLedgerError* error);
  // A time given by a caller as a parameter in the ledger's form; refused when not a time.
  bool TimeParam(const std::string& text, std::vector<CSqlParam>* params, CLedgerError* error);
  // The span's conditions on time appended to sql (" WHERE ... AND ...").
  bool SpanWhere(const CLedgerSpan& span, std::string* sql, std::vector<CSqlParam>* params,
                 CLedgerError* error);
  bool Run(const std::string& sql, const std::vector<CSqlParam>& params, std::vector<CSqlRow>* rows,
           CLedgerError* error);
  // Rolls back and reports what went wrong: a refusal of this request, or the ledger gone.
  bool Abort(CLedgerError* error, bool unavailable, const std::string& text);
  bool Unavailable(CLedgerError* error);

  std::mutex m_mutex;
  std::unique_ptr<CSqlConnection> m_pConnection;
  std::string m_strLocation;
  std::string m_strStation;
};
