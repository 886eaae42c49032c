// The ledger's behaviour, the same on both engines: numbers bound to addresses for good, the
// counter's start, names held once, the record of attempts, export and statistics.
#include <ctime>
#include <fstream>
#include <set>
#include <thread>

#include "ledger/LedgerRig.h"

template <typename TBackend>
class LedgerBehaviour : public testing::Test {
 protected:
  void SetUp() override {
    m_strLocation = m_backend.NewLocation();
    m_pLedger = Open("bench-1");
    ASSERT_TRUE(m_pLedger);
  }
  std::unique_ptr<CLedger> Open(const std::string& station) {
    CLedgerError error;
    auto ledger = OpenLedger(m_strLocation, station, &error);
    EXPECT_TRUE(ledger) << error.m_strText;
    return ledger;
  }
  CLedgerModule Bind(const std::string& address, const CLedgerValuesFor& values,
                     bool* bound = nullptr) {
    CLedgerModule module;
    CLedgerError error;
    bool fresh = false;
    EXPECT_TRUE(m_pLedger->Bind(address, values, &module, &fresh, &error)) << error.m_strText;
    if (bound) *bound = fresh;
    return module;
  }
  CLedgerAttempt Attempt(const std::string& address, const std::string& result,
                         const std::string& time = "") {
    CLedgerAttempt attempt;
    attempt.m_strTime = time;
    attempt.m_strVersion = "1.2.0";
    attempt.m_strPort = "/dev/ttyUSB0";
    attempt.m_strAddress = address;
    attempt.m_nDurationMs = 6440;
    attempt.m_strResult = result;
    return attempt;
  }
  void Record(const CLedgerAttempt& attempt, CLedger* ledger = nullptr) {
    CLedgerError error;
    EXPECT_TRUE((ledger ? ledger : m_pLedger.get())->RecordAttempt(attempt, &error))
        << error.m_strText;
  }

  TBackend m_backend;
  std::string m_strLocation;
  std::unique_ptr<CLedger> m_pLedger;
};
TYPED_TEST_SUITE(LedgerBehaviour, LedgerBackends, CBackendNames);

TYPED_TEST(LedgerBehaviour, AnAddressKeepsItsNumberAndValuesAcrossReopening) {
  bool bound = false;
  CLedgerModule first = this->Bind("001A7DDA7113", NamedByNumber(), &bound);
  EXPECT_TRUE(bound);
  EXPECT_EQ(first.m_nNumber, 1);
  EXPECT_EQ(first.m_values.m_name, "MOD-1");
  EXPECT_EQ(first.m_strBoundBy, "bench-1");
  EXPECT_EQ(this->Bind("001A7DDA7114", NamedByNumber()).m_nNumber, 2);

  this->m_pLedger = this->Open("bench-2");
  int calls = 0;
  CLedgerModule again = this->Bind(
      "001A7DDA7113",
      [&](long long, CLedgerValues*, std::string*) {
        ++calls;
        return true;
      },
      &bound);
  EXPECT_FALSE(bound);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(again.m_nNumber, 1);
  EXPECT_EQ(again.m_values.m_name, "MOD-1");
  EXPECT_EQ(again.m_values.m_pin, "1234");
  EXPECT_EQ(again.m_values.m_role, "slave");
  EXPECT_FALSE(again.m_values.m_peer);
  EXPECT_EQ(again.m_strBoundBy, "bench-1");
  EXPECT_EQ(this->Bind("001A7DDA7115", NamedByNumber()).m_nNumber, 3);
}

TYPED_TEST(LedgerBehaviour, TheCounterStartsWhereAskedAndNeverGoesBackOverAGivenNumber) {
  CLedgerError error;
  ASSERT_TRUE(this->m_pLedger->SetStart(100, &error)) << error.m_strText;
  EXPECT_EQ(this->Bind(Address(1), NamedByNumber()).m_nNumber, 100);
  EXPECT_EQ(this->Bind(Address(2), NamedByNumber()).m_nNumber, 101);

  EXPECT_FALSE(this->m_pLedger->SetStart(101, &error));
  EXPECT_FALSE(error.m_bUnavailable);
  EXPECT_NE(error.m_strText.find("101"), std::string::npos) << error.m_strText;
  EXPECT_FALSE(this->m_pLedger->SetStart(1, &error));
  EXPECT_FALSE(this->m_pLedger->SetStart(-5, &error));
  EXPECT_FALSE(error.m_bUnavailable);
  long long next = 0;
  ASSERT_TRUE(this->m_pLedger->NextNumber(&next, &error));
  EXPECT_EQ(next, 102);

  ASSERT_TRUE(this->m_pLedger->SetStart(500, &error)) << error.m_strText;
  EXPECT_EQ(this->Bind(Address(3), NamedByNumber()).m_nNumber, 500);
}

TYPED_TEST(LedgerBehaviour, ANameHeldByAnotherAddressIsRefusedAndCostsNoNumber) {
  const auto fixedName = [](long long, CLedgerValues* values, std::string*) {
    values->m_name = "LINE-A";
    return true;
  };
  this->Bind(Address(1), fixedName);
  CLedgerModule module;
  CLedgerError error;
  bool bound = true;
  EXPECT_FALSE(this->m_pLedger->Bind(Address(2), fixedName, &module, &bound, &error));
  EXPECT_FALSE(error.m_bUnavailable);
  EXPECT_NE(error.m_strText.find("LINE-A"), std::string::npos) << error.m_strText;
  EXPECT_NE(error.m_strText.find(Address(1)), std::string::npos) << error.m_strText;

  bool found = false;
  std::string holder;
  long long number = 0;
  ASSERT_TRUE(this->m_pLedger->NameHolder("LINE-A", &found, &holder, &number, &error));
  EXPECT_TRUE(found);
  EXPECT_EQ(holder, Address(1));
  EXPECT_EQ(number, 1);
  ASSERT_TRUE(this->m_pLedger->NameHolder("LINE-B", &found, &holder, &number, &error));
  EXPECT_FALSE(found);

  // The refusal left the address unbound and the number free.
  EXPECT_EQ(this->Bind(Address(2), NamedByNumber()).m_nNumber, 2);
}

TYPED_TEST(LedgerBehaviour, ValuesRefusedByTheCallerBindNothing) {
  CLedgerModule module;
  CLedgerError error;
  bool bound = true;
  EXPECT_FALSE(this->m_pLedger->Bind(
      Address(1),
      [](long long, CLedgerValues*, std::string* refusal) {
        *refusal = "the name would be longer than 16 characters";
        return false;
      },
      &module, &bound, &error));
  EXPECT_FALSE(error.m_bUnavailable);
  EXPECT_NE(error.m_strText.find("longer than 16"), std::string::npos) << error.m_strText;
  EXPECT_FALSE(this->m_pLedger->Bind("", NamedByNumber(), &module, &bound, &error));
  bool found = true;
  ASSERT_TRUE(this->m_pLedger->FindByAddress(Address(1), &found, &module, &error));
  EXPECT_FALSE(found);
  EXPECT_EQ(this->Bind(Address(1), NamedByNumber()).m_nNumber, 1);
}

TYPED_TEST(LedgerBehaviour, BindingSeveralAtOnceIsAllOrNothing) {
  this->Bind("A1", NamedByNumber());
  // Names by index: the third repeats the first's, so the whole call is refused.
  std::vector<std::string> names = {"ONE", "TWO", "ONE"};
  const CLedgerValuesForEach byIndex = [&](size_t k, long long, CLedgerValues* v, std::string*) {
    if (names[k].empty()) return ELedgerValues::Skip;
    v->m_name = names[k];
    return ELedgerValues::Ok;
  };
  std::vector<CLedgerModule> modules;
  std::vector<ELedgerBinding> outcomes;
  CLedgerError error;
  EXPECT_FALSE(this->m_pLedger->BindAll({"B1", "B2", "B3"}, byIndex, &modules, &outcomes, &error));
  EXPECT_FALSE(error.m_bUnavailable) << error.m_strText;
  EXPECT_NE(error.m_strText.find("\"ONE\" is already held by B1"), std::string::npos)
      << error.m_strText;
  long long next = 0;
  ASSERT_TRUE(this->m_pLedger->NextNumber(&next, &error));
  EXPECT_EQ(next, 2) << "no number used by the refused call";
  CLedgerModule module;
  bool found = true;
  ASSERT_TRUE(this->m_pLedger->FindByAddress("B1", &found, &module, &error));
  EXPECT_FALSE(found) << "B1 was rolled back with the rest";

  // A known address keeps its binding, a skipped one uses no number, the new ones are numbered
  // in the order given.
  names = {"", "TWO", "THREE", "FOUR"};
  ASSERT_TRUE(
      this->m_pLedger->BindAll({"B0", "B2", "A1", "B3"}, byIndex, &modules, &outcomes, &error))
      << error.m_strText;
  EXPECT_EQ(outcomes, (std::vector<ELedgerBinding>{ELedgerBinding::Skipped, ELedgerBinding::Bound,
                                                   ELedgerBinding::Found, ELedgerBinding::Bound}));
  EXPECT_EQ(modules[1].m_nNumber, 2);
  EXPECT_EQ(modules[2].m_nNumber, 1);
  EXPECT_EQ(modules[2].m_values.m_name, "MOD-1");
  EXPECT_EQ(modules[3].m_nNumber, 3);
  EXPECT_EQ(modules[3].m_values.m_name, "FOUR");
  auto other = this->Open("bench-2");
  ASSERT_TRUE(other->FindByAddress("B3", &found, &module, &error));
  EXPECT_TRUE(found && module.m_nNumber == 3 && module.m_strBoundBy == "bench-1");
  ASSERT_TRUE(other->NextNumber(&next, &error));
  EXPECT_EQ(next, 4);
  EXPECT_TRUE(other->CheckIntegrity(&error)) << error.m_strText;
}

TYPED_TEST(LedgerBehaviour, AttemptsComeBackWithTheModuleAsTheyWereRecorded) {
  this->Bind(Address(7), NamedByNumber("O'Brien \"x\"; DROP TABLE ledger_modules; -- "));
  CLedgerAttempt failed = this->Attempt(Address(7), "comm-error", "2025-05-20T10:00:00.000Z");
  failed.m_before.m_name = "HC-05";
  failed.m_before.m_pin = "0000";
  failed.m_written.m_name = "O'Brien";  // acknowledged before the line went quiet
  failed.m_strMessage = "Communication error";
  failed.m_strNotes = "pace=fast";
  failed.m_strPace = "fast";
  failed.m_bFellBack = true;
  this->Record(failed);
  CLedgerAttempt ok = this->Attempt(Address(7), kLedgerResultOk, "2025-05-20T10:05:00.000Z");
  ok.m_written = {"Grüße ✓", std::nullopt, "master", "01:02:0A:0B:C0:FF"};  // PIN kept out
  ok.m_verified = true;
  this->Record(ok);
  CLedgerAttempt unbound = this->Attempt(Address(8), "no-module");
  unbound.m_verified = false;
  this->Record(unbound);

  CLedgerModule module;
  CLedgerError error;
  bool found = false;
  ASSERT_TRUE(this->m_pLedger->FindByName("O'Brien \"x\"; DROP TABLE ledger_modules; -- 1", &found,
                                          &module, &error))
      << error.m_strText;
  ASSERT_TRUE(found);
  EXPECT_EQ(module.m_strAddress, Address(7));
  ASSERT_EQ(module.m_attempts.size(), 2u);
  EXPECT_TRUE(module.LastOk());
  const CLedgerAttempt& first = module.m_attempts[0];
  EXPECT_EQ(first.m_strTime, "2025-05-20T10:00:00.000Z");
  EXPECT_EQ(first.m_strStation, "bench-1");
  EXPECT_EQ(first.m_strVersion, "1.2.0");
  EXPECT_EQ(first.m_strPort, "/dev/ttyUSB0");
  EXPECT_EQ(first.m_number, 1);
  EXPECT_EQ(first.m_before.m_name, "HC-05");
  EXPECT_EQ(first.m_before.m_pin, "0000");
  EXPECT_FALSE(first.m_before.m_role);
  EXPECT_EQ(first.m_written.m_name, "O'Brien");
  EXPECT_FALSE(first.m_written.m_pin);
  EXPECT_FALSE(first.m_verified);
  EXPECT_EQ(first.m_nDurationMs, 6440);
  EXPECT_EQ(first.m_strResult, "comm-error");
  EXPECT_EQ(first.m_strMessage, "Communication error");
  EXPECT_EQ(first.m_strNotes, "pace=fast");
  EXPECT_EQ(first.m_strPace, "fast");
  EXPECT_TRUE(first.m_bFellBack);
  const CLedgerAttempt& second = module.m_attempts[1];
  EXPECT_EQ(second.m_written.m_name, "Grüße ✓");
  EXPECT_FALSE(second.m_written.m_pin);
  EXPECT_EQ(second.m_written.m_role, "master");
  EXPECT_EQ(second.m_written.m_peer, "01:02:0A:0B:C0:FF");
  EXPECT_EQ(second.m_verified, true);

  std::vector<CLedgerAttempt> all;
  ASSERT_TRUE(this->m_pLedger->Export({}, &all, &error));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_FALSE(all[2].m_number);  // an address never bound
  EXPECT_EQ(all[2].m_verified, false);
  EXPECT_FALSE(all[2].m_strTime.empty());

  ASSERT_TRUE(this->m_pLedger->FindByAddress(Address(8), &found, &module, &error));
  EXPECT_FALSE(found);
}

TYPED_TEST(LedgerBehaviour, ExportFiltersByTimeStationAndAddress) {
  auto other = this->Open("bench-2");
  ASSERT_TRUE(other);
  this->Record(this->Attempt(Address(1), "ok", "2025-05-19T23:59:59.999Z"));
  this->Record(this->Attempt(Address(2), "ok", "2025-05-20T08:00:00.000Z"), other.get());
  this->Record(this->Attempt(Address(3), "failed", "2025-05-20T09:00:00.000Z"));
  this->Record(this->Attempt(Address(4), "ok", "2025-05-21T09:00:00.000Z"), other.get());

  const auto addresses = [&](const CLedgerFilter& filter) {
    std::vector<CLedgerAttempt> rows;
    CLedgerError error;
    EXPECT_TRUE(this->m_pLedger->Export(filter, &rows, &error)) << error.m_strText;
    std::vector<std::string> list;
    for (const auto& row : rows) list.push_back(row.m_strAddress);
    return list;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(addresses({"2025-05-20", "", ""}), (V{Address(2), Address(3), Address(4)}));
  EXPECT_EQ(addresses({"", "bench-2", ""}), (V{Address(2), Address(4)}));
  EXPECT_EQ(addresses({"2025-05-20T08:30", "bench-2", ""}), (V{Address(4)}));
  EXPECT_EQ(addresses({"2025-06-01", "", ""}), V{});
  EXPECT_EQ(addresses({"", "", Address(3)}), V{Address(3)});
  EXPECT_EQ(addresses({"", "bench-2", Address(3)}), V{});
  EXPECT_EQ(addresses({"2025-05-20T08:00:00Z", "bench-2", ""}), (V{Address(2), Address(4)}))
      << "at or after: the instant itself is in";
}

TYPED_TEST(LedgerBehaviour, LatestGivesEachModuleOnceWithItsLastAttemptByNumber) {
  this->Bind(Address(2), NamedByNumber());
  this->Bind(Address(1), NamedByNumber());
  this->Record(this->Attempt(Address(1), "comm-error"));
  this->Record(this->Attempt(Address(9), "no-module"));
  this->Record(this->Attempt(Address(1), "ok"));
  this->Record(this->Attempt(Address(2), "ok"));
  std::vector<std::string> rows;
  CLedgerError error;
  ASSERT_TRUE(this->m_pLedger->Latest(
      [&rows](const CLedgerAttempt& last, long long attempts) {
        rows.push_back(last.m_strAddress + " " + last.m_strResult + " " + std::to_string(attempts));
      },
      &error))
      << error.m_strText;
  EXPECT_EQ(rows, (std::vector<std::string>{Address(9) + " no-module 1", Address(2) + " ok 1",
                                            Address(1) + " ok 2"}));
}

TYPED_TEST(LedgerBehaviour, StatsCountModulesByStationAndByTheirLastAttempt) {
  auto other = this->Open("bench-2");
  ASSERT_TRUE(other);
  for (int i = 1; i <= 4; ++i) this->Bind(Address(i), NamedByNumber());
  // bench-1: module 1 fails then works, module 2 works; two hours apart.
  this->Record(this->Attempt(Address(1), "comm-error", "2025-05-20T08:00:00.000Z"));
  this->Record(this->Attempt(Address(1), "ok", "2025-05-20T09:00:00.000Z"));
  this->Record(this->Attempt(Address(2), "ok", "2025-05-20T10:00:00.000Z"));
  // bench-2: module 3 fails only; module 2 again, failing this time.
  this->Record(this->Attempt(Address(3), "no-module", "2025-05-20T10:00:00.000Z"), other.get());
  this->Record(this->Attempt(Address(2), "verify-differs", "2025-05-20T10:00:30.000Z"),
               other.get());

  CLedgerStats stats;
  CLedgerError error;
  ASSERT_TRUE(this->m_pLedger->Stats(&stats, &error)) << error.m_strText;
  EXPECT_EQ(stats.m_nModules, 4);
  EXPECT_EQ(stats.m_nLastOk, 1);      // module 1
  EXPECT_EQ(stats.m_nLastFailed, 2);  // modules 2 and 3
  EXPECT_EQ(stats.m_nNeverTried, 1);  // module 4
  EXPECT_EQ(stats.m_nNextNumber, 5);
  ASSERT_EQ(stats.m_stations.size(), 2u);
  const CLedgerStationStats& one = stats.m_stations[0];
  EXPECT_EQ(one.m_strStation, "bench-1");
  EXPECT_EQ(one.m_nAttempts, 3);
  EXPECT_EQ(one.m_nAttemptsOk, 2);
  EXPECT_EQ(one.m_nModulesOk, 2);
  EXPECT_EQ(one.m_nModulesFailed, 0);
  EXPECT_EQ(one.m_strFirst, "2025-05-20T08:00:00.000Z");
  EXPECT_EQ(one.m_strLast, "2025-05-20T10:00:00.000Z");
  ASSERT_TRUE(one.m_modulesPerHour);
  EXPECT_DOUBLE_EQ(*one.m_modulesPerHour, 1.0);
  const CLedgerStationStats& two = stats.m_stations[1];
  EXPECT_EQ(two.m_strStation, "bench-2");
  EXPECT_EQ(two.m_nModulesOk, 0);
  EXPECT_EQ(two.m_nModulesFailed, 2);
  EXPECT_FALSE(two.m_modulesPerHour);  // thirty seconds say nothing of an hour
}

TYPED_TEST(LedgerBehaviour, WorkerThreadsSharingOneLedgerGetDistinctNumbers) {
  constexpr int kThreads = 8, kEach = 20;
  std::vector<std::vector<long long>> numbers(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        CLedgerModule module;
        CLedgerError error;
        bool bound = false;
        // Every thread binds the same few shared addresses too: each gets one number only.
        const std::string address = i % 5 == 0 ? Address(i) : Address(1000 * (t + 1) + i);
        if (this->m_pLedger->Bind(address, NamedByNumber(), &module, &bound, &error)) {
          numbers[t].push_back(module.m_nNumber);
          CLedgerAttempt attempt = this->Attempt(address, "ok");
          this->m_pLedger->RecordAttempt(attempt, &error);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<long long> distinct;
  size_t total = 0;
  for (const auto& list : numbers) {
    total += list.size();
    distinct.insert(list.begin(), list.end());
  }
  EXPECT_EQ(total, static_cast<size_t>(kThreads * kEach));
  const size_t modules = kThreads * (kEach - 4) + 4;
  EXPECT_EQ(distinct.size(), modules);
  EXPECT_EQ(*distinct.rbegin(), static_cast<long long>(modules));
  CLedgerStats stats;
  CLedgerError error;
  ASSERT_TRUE(this->m_pLedger->Stats(&stats, &error));
  EXPECT_EQ(stats.m_nModules, static_cast<long long>(modules));
  EXPECT_EQ(stats.m_stations[0].m_nAttempts, kThreads * kEach);
  EXPECT_TRUE(this->m_pLedger->CheckIntegrity(&error)) << error.m_strText;
}

TYPED_TEST(LedgerBehaviour, ANewerSchemaIsRefusedAndLeftAsItIs) {
  this->Bind(Address(1), NamedByNumber());
  this->m_pLedger.reset();
  ASSERT_TRUE(TypeParam::MakeNewer(this->m_strLocation));
  CLedgerError error;
  EXPECT_FALSE(OpenLedger(this->m_strLocation, "bench-1", &error));
  EXPECT_TRUE(error.m_bUnavailable);
  EXPECT_NE(error.m_strText.find("schema version 3 is newer"), std::string::npos)
      << error.m_strText;
  EXPECT_EQ(error.m_strText.find('\n'), std::string::npos);
  // Still newer: the refusal did not migrate it backwards.
  EXPECT_FALSE(OpenLedger(this->m_strLocation, "bench-1", &error));
}

// A ledger of version 1 kept the pace in the notes. Opened to read it is read as it stands,
// and stays version 1; opened to write, it gains the columns. Both read the same paces.
TYPED_TEST(LedgerBehaviour, AVersionOneLedgerGainsThePaceColumnsFromItsNotes) {
  const std::vector<std::string> notes = {"again", "pace fast",
                                          "again; pace fast\xE2\x86\x92standard"};
  for (const std::string& note : notes) {
    CLedgerAttempt attempt = this->Attempt(Address(1), "ok");
    attempt.m_strNotes = note;
    this->Record(attempt);
  }
  this->m_pLedger.reset();
  ASSERT_TRUE(TypeParam::Exec(this->m_strLocation,
                              "ALTER TABLE ledger_attempts DROP COLUMN pace;"
                              "ALTER TABLE ledger_attempts DROP COLUMN fell_back"));
  ASSERT_TRUE(TypeParam::SetVersion(this->m_strLocation, 1));
  for (ELedgerAccess access : {ELedgerAccess::Read, ELedgerAccess::Write}) {
    CLedgerError error;
    this->m_pLedger = OpenLedger(this->m_strLocation, "bench-1", &error, access);
    ASSERT_TRUE(this->m_pLedger) << error.m_strText;
    std::vector<CLedgerAttempt> all;
    ASSERT_TRUE(this->m_pLedger->Export({}, &all, &error)) << error.m_strText;
    ASSERT_EQ(all.size(), 3u);
    const std::vector<std::pair<std::string, bool>> paces = {
        {"standard", false}, {"fast", false}, {"fast", true}};
    for (size_t k = 0; k < paces.size(); ++k) {
      EXPECT_EQ(all[k].m_strPace, paces[k].first) << all[k].m_strNotes;
      EXPECT_EQ(all[k].m_bFellBack, paces[k].second) << all[k].m_strNotes;
    }
    // Only a write adds the columns.
    EXPECT_EQ(TypeParam::Exec(this->m_strLocation, "SELECT pace FROM ledger_attempts"),
              access == ELedgerAccess::Write);
    this->m_pLedger.reset();
  }
}

TYPED_TEST(LedgerBehaviour, ASchemaVersionBelowZeroIsRefusedToWriteAndToRead) {
  this->m_pLedger.reset();
  ASSERT_TRUE(TypeParam::SetVersion(this->m_strLocation, -1));
  for (ELedgerAccess access : {ELedgerAccess::Write, ELedgerAccess::Read}) {
    CLedgerError error;
    EXPECT_FALSE(OpenLedger(this->m_strLocation, "bench-1", &error, access));
    EXPECT_NE(error.m_strText.find("schema version -1"), std::string::npos) << error.m_strText;
  }
}

// show, export and stats read; they never make a ledger of a database that is none.
TYPED_TEST(LedgerBehaviour, ADatabaseThatIsNoLedgerIsRefusedToReadAndLeftAsItIs) {
  const std::string location = this->m_backend.NewLocation();
  if (std::string(TypeParam::kName) == "SQLite") std::ofstream{location};
  CLedgerError error;
  EXPECT_FALSE(OpenLedger(location, "bench-1", &error, ELedgerAccess::Read));
  EXPECT_NE(error.m_strText.find("not a ledger"), std::string::npos) << error.m_strText;
  EXPECT_FALSE(TypeParam::Exec(location, "SELECT * FROM ledger_counter"));
}

TYPED_TEST(LedgerBehaviour, AnotherProgramsDatabaseIsRefusedUntouched) {
  const std::string location = this->m_backend.NewLocation();
  ASSERT_TRUE(TypeParam::MakeForeign(location));
  CLedgerError error;
  EXPECT_FALSE(OpenLedger(location, "bench-1", &error));
  EXPECT_TRUE(error.m_bUnavailable);
  EXPECT_NE(error.m_strText.find("another program"), std::string::npos) << error.m_strText;
  // Had the ledger set itself up there, its counter table would exist now.
  EXPECT_FALSE(TypeParam::Exec(location, "SELECT * FROM ledger_counter"));
  EXPECT_TRUE(TypeParam::Exec(location, "SELECT * FROM ledger_meta"));
}

TEST(LedgerTime, IsUtcWithMillisecondsAndReadsBackToTheSecond) {
  double seconds = 0;
  ASSERT_TRUE(LedgerTimeSeconds("1970-01-01T00:00", &seconds));
  EXPECT_EQ(seconds, 0);
  ASSERT_TRUE(LedgerTimeSeconds("2000-02-29T23:59:59.500Z", &seconds));
  EXPECT_EQ(seconds, 951868799.5);
  ASSERT_TRUE(LedgerTimeSeconds("2025-05-20T10:11:12.345Z", &seconds));
  EXPECT_EQ(seconds, 1747735872.345);
  EXPECT_FALSE(LedgerTimeSeconds("2025-05-20", &seconds));
  EXPECT_FALSE(LedgerTimeSeconds("2025-05-20 10:11:12", &seconds));
  EXPECT_FALSE(LedgerTimeSeconds("2025-05-20T10:11:1x", &seconds));

  const std::string now = LedgerTimeNow();
  ASSERT_EQ(now.size(), 24u) << now;
  EXPECT_EQ(now.back(), 'Z');
  ASSERT_TRUE(LedgerTimeSeconds(now, &seconds)) << now;
  EXPECT_NEAR(seconds, static_cast<double>(std::time(nullptr)), 60.0) << now;
}
