// CLedger: the memory of a production line. Which module (keyed by its own address) got which
// number and values, every attempt at programming one, and the counter the numbers come from.
// It knows nothing of ports, the module protocol or windows: addresses, values and results are
// plain text chosen by the caller.
//
// Contract:
// - OpenLedger opens or creates the ledger at a location (a file path: SQLite; a
//   postgresql:// or postgres:// URL: PostgreSQL), checks what it finds there and brings an
//   older schema forward in one transaction. It refuses (one line in the error, nothing in the
//   file or database changed, no file left behind) a missing folder, a folder, a link, a file
//   others may write or replace, a read-only file, a file that is not SQLite, an SQLite
//   database of another program, a schema version it does not know, an unreachable or
//   refusing server, wrong credentials. Opened to read, it changes nothing anywhere. The Windows
//   build has the SQLite ledger only and refuses every URL.
// - Every call blocks the calling thread until the database has answered, and takes the
//   object's one lock, so any number of threads may share one CLedger; their calls run one
//   after another. SQLite waits at most kLedgerBusyMs for another process's write
//   transaction; PostgreSQL waits at most kLedgerConnectSeconds to connect and kLedgerBusyMs
//   for another station's lock. A call that wrote returns only once the write is durable.
// - Several processes and stations may share one ledger. Numbers and names never repeat:
//   unique constraints in the database guard them, and a number, once bound, belongs to its
//   address for good (a crash loses at most the attempts under way, never a binding).
// - Results are true or false. On false, *error holds one line naming the ledger and what went
//   wrong; m_bUnavailable tells a ledger that cannot be used (a refused open, a lost server, a
//   lock held too long, a disk error) from a refusal of this one request (a name held by another
//   address, a start that would reuse a number), after which the ledger is still usable.
// - An object must not be used across fork(): a child process opens its own.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

constexpr int kLedgerBusyMs = 10000;
constexpr int kLedgerConnectSeconds = 10;
// The result of an attempt that ended well; a module whose last attempt has it is programmed.
constexpr const char* kLedgerResultOk = "ok";

// A module's values as text; an absent one is left out (not read, not written, or kept out of
// the record on purpose).
struct CLedgerValues {
  std::optional<std::string> m_name;
  std::optional<std::string> m_pin;
  std::optional<std::string> m_role;
  std::optional<std::string> m_peer;
};

// One attempt at a module, one row of the record.
struct CLedgerAttempt {
  // UTC, "2025-05-20T10:11:12.345Z". Empty when recording: the ledger puts in the time of the
  // call.
  std::string m_strTime;
  // Empty when recording: the ledger's station.
  std::string m_strStation;
  std::string m_strVersion;  // the program's version
  std::string m_strPort;
  std::string m_strAddress;  // the module's own address; must not be empty
  // Ignored when recording: the number the address was bound to then, if any.
  std::optional<long long> m_number;
  CLedgerValues m_before;          // what the module held before, where it was read
  CLedgerValues m_written;         // what the module acknowledged
  std::optional<bool> m_verified;  // absent: not verified; false: read back and differed
  long long m_nDurationMs = 0;
  std::string m_strResult;  // kLedgerResultOk, or a short word for how it failed
  std::string m_strMessage;
  std::string m_strNotes;              // free text: the plan row, anything worth keeping
  std::string m_strPace = "standard";  // "standard" or "fast"
  bool m_bFellBack = false;            // a fast run went back to the standard pace
};

// A bound module: its number and values, and its attempts, oldest first.
struct CLedgerModule {
  long long m_nNumber = 0;
  std::string m_strAddress;
  CLedgerValues m_values;
  std::string m_strBoundAt;  // UTC time of the binding
  std::string m_strBoundBy;  // station that bound it
  std::vector<CLedgerAttempt> m_attempts;

  // True when the last attempt ended kLedgerResultOk.
  bool LastOk() const;
};

// Which attempts an export yields; empty fields do not filter.
struct CLedgerFilter {
  // UTC time in the ledger's form or a prefix of it ("2025-05-20", "2025-05-20T10:00",
  // "2025-05-20T10:00:00Z"): attempts at or after that instant, compared as times. One that
  // is not a real time (LedgerTimeMs) is refused.
  std::string m_strSince;
  std::string m_strStation;
  // One module's attempts, by its address ("00:1A:7D:DA:71:13").
  std::string m_strAddress;
};

struct CLedgerStationStats {
  std::string m_strStation;
  long long m_nAttempts = 0;
  long long m_nAttemptsOk = 0;
  long long m_nModulesOk = 0;      // distinct addresses with an ok attempt at this station
  long long m_nModulesFailed = 0;  // distinct addresses tried here, none of them ok here
  std::string m_strFirst;          // time of the first and last attempt here
  std::string m_strLast;
  // Modules ok per hour between the first and the last attempt; absent when they are less
  // than a minute apart.
  std::optional<double> m_modulesPerHour;
};

struct CLedgerStats {
  long long m_nModules = 0;                     // bound addresses
  long long m_nLastOk = 0;                      // bound modules whose last attempt ended ok
  long long m_nLastFailed = 0;                  // bound modules whose last attempt did not
  long long m_nNeverTried = 0;                  // bound modules without an attempt
  long long m_nNextNumber = 0;                  // the number the next new address gets
  std::vector<CLedgerStationStats> m_stations;  // by station name
};

// Takes one attempt of an export; it is gone once the call returns.
using CLedgerAttemptSink = std::function<void(const CLedgerAttempt& attempt)>;
// Takes a module's last attempt and how many attempts it has.
using CLedgerLatestSink = std::function<void(const CLedgerAttempt& last, long long attempts)>;

// How a ledger is opened: to bind and record (made and set up where it is not there yet), or
// only to read (show, export, stats: never made, set up or changed, and readable from a file
// and folder this user may only read).
enum class ELedgerAccess { Write, Read };

struct CLedgerError {
  bool m_bUnavailable = false;
  std::string m_strText;
};

// Gives the values for a new module from its number, inside the binding's transaction: it
// must be quick and touch no port. False with a one-line reason refuses the binding (the
// number is not used).
using CLedgerValuesFor =
    std::function<bool(long long number, CLedgerValues* values, std::string* refusal)>;

// For BindAll: the values for the address at index as number; Skip leaves that address
// unbound (no number is used for it), Refuse refuses the whole call.
enum class ELedgerValues { Ok, Skip, Refuse };
using CLedgerValuesForEach = std::function<ELedgerValues(
    size_t index, long long number, CLedgerValues* values, std::string* refusal)>;
// What BindAll did with one address.
enum class ELedgerBinding { Found, Bound, Skipped };

class CLedgerQueries;  // ledger/LedgerQueries.h

class CLedger {
 public:
  virtual ~CLedger() = default;

  // The location as given, a URL's password replaced by "***"; for messages.
  virtual const std::string& Location() const = 0;
  virtual const std::string& Station() const = 0;

  // Sets the number the next new address gets: on an empty ledger, or above every number
  // already bound (a jump forward). Refused when a number at or above first is already bound
  // (that would give a number twice; a second run with the same first is refused too) or
  // when first is negative.
  virtual bool SetStart(long long first, CLedgerError* error) = 0;
  virtual bool NextNumber(long long* next, CLedgerError* error) = 0;

  // The address's binding: the one it already has (*bound false; valuesFor is not called),
  // or a new one made in one transaction with the next number and valuesFor's values
  // (*bound true). Refused when valuesFor refuses or the new name is held by another address.
  // *module gets the number, values and attempts.
  virtual bool Bind(const std::string& address, const CLedgerValuesFor& valuesFor,
                    CLedgerModule* module, bool* bound, CLedgerError* error) = 0;
  // Bind for several addresses in one transaction, so one durable commit (one flush of the
  // disk) covers them all: each address keeps the binding it has (Found) or gets the next
  // number with valuesFor's values (Bound, numbers in the order given), or is Skipped. All or
  // nothing: a refusal (valuesFor's, a name held by another address or given twice) binds none.
  // (*modules)[i] and (*outcomes)[i] belong to addresses[i]; a Found module comes without its
  // attempts.
  virtual bool BindAll(const std::vector<std::string>& addresses,
                       const CLedgerValuesForEach& valuesFor, std::vector<CLedgerModule>* modules,
                       std::vector<ELedgerBinding>* outcomes, CLedgerError* error) = 0;
  // Gives the bound module at address the name it is about to be programmed with, when it was
  // bound without one: held in the ledger before any byte writes it, so no other module can
  // take it meanwhile. Refused (not unavailable) when another address holds the name or the
  // module holds another one; true when the module holds this name already.
  virtual bool BindName(const std::string& address, const std::string& name,
                        CLedgerError* error) = 0;
  // The address and number holding a name; *found false when no module holds it.
  virtual bool NameHolder(const std::string& name, bool* found, std::string* address,
                          long long* number, CLedgerError* error) = 0;

  // A bound module by its address or by its name; *found false when there is none.
  virtual bool FindByAddress(const std::string& address, bool* found, CLedgerModule* module,
                             CLedgerError* error) = 0;
  virtual bool FindByName(const std::string& name, bool* found, CLedgerModule* module,
                          CLedgerError* error) = 0;

  // Adds one attempt (bound address or not); durable when it returns true.
  virtual bool RecordAttempt(const CLedgerAttempt& attempt, CLedgerError* error) = 0;

  // Attempts matching the filter, oldest first, each handed to sink as it is read: none is
  // kept, so a ledger of any size takes the memory of one attempt.
  virtual bool Export(const CLedgerFilter& filter, const CLedgerAttemptSink& sink,
                      CLedgerError* error) = 0;
  // Export into a vector, for the few attempts a caller knows to be few.
  bool Export(const CLedgerFilter& filter, std::vector<CLedgerAttempt>* attempts,
              CLedgerError* error) {
    attempts->clear();
    return Export(
        filter, [attempts](const CLedgerAttempt& a) { attempts->push_back(a); }, error);
  }
  // Each address that has attempts, once, with its last attempt and their count: by the
  // number the last attempt carried (unbound ones first), then by address. Streamed as Export.
  virtual bool Latest(const CLedgerLatestSink& sink, CLedgerError* error) = 0;
  virtual bool Stats(CLedgerStats* stats, CLedgerError* error) = 0;

  // The dashboard's read-only questions of this ledger (ledger/LedgerQueries.h); it lives as
  // long as the ledger and shares its lock.
  virtual CLedgerQueries& Queries() = 0;

  // Checks the storage (SQLite's integrity check) and the ledger's own rules: the counter is
  // above every bound number, no number, address or name twice. False with the first fault.
  virtual bool CheckIntegrity(CLedgerError* error) = 0;
};

// What this build can open: SQLite files (every build made with SQLite), PostgreSQL URLs (the
// Linux build; the Windows build has the SQLite ledger only).
bool LedgerHasSqlite();
bool LedgerHasPostgres();

// True when the location names a PostgreSQL database rather than a file.
bool IsPostgresLocation(const std::string& location);
// The location for messages and reports: a URL's password (user:password@ or password=)
// replaced by "***".
std::string RedactLocation(const std::string& location);

// True when location is SQLite's own syntax rather than a file's path: a "file:" URI or an
// in-memory database, which would slip past every check made of a file.
bool IsSqliteSpecialName(const std::string& location);

// The time now in the ledger's form, UTC: "2025-05-20T10:11:12.345Z".
std::string LedgerTimeNow();
// Milliseconds since 1970 of a UTC time in that form, or of a prefix of it down to the day
// ("2025-05-20", "2025-05-20T10:11", "2025-05-20T10:11:12Z"); false when the text is not
// one or names no real time (month 13, 31 April, 24:00).
bool LedgerTimeMs(const std::string& text, long long* ms);
// That time in the ledger's form.
std::string LedgerTimeText(long long ms);
// LedgerTimeMs in seconds, for a time given at least to the minute.
bool LedgerTimeSeconds(const std::string& text, double* seconds);

// Opens the ledger at location for station (attempts and bindings carry its name). Null with
// *error (m_bUnavailable set) when it cannot be used; blocks as described above. A file is
// never opened through a link, nor when others may write it (ledger/LedgerPath.h); SQLite's
// "file:" URIs and ":memory:" are refused by name.
std::unique_ptr<CLedger> OpenLedger(const std::string& location, const std::string& station,
                                    CLedgerError* error,
                                    ELedgerAccess access = ELedgerAccess::Write);
