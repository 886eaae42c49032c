// Several processes on one ledger at once, on both engines: numbers and names never given
// twice, no row lost, and a process killed in the middle leaves every binding it made.
#include <set>

#include "ledger/LedgerRig.h"

template <typename TBackend>
class LedgerConcurrency : public testing::Test {
 protected:
  void SetUp() override { m_strLocation = m_backend.NewLocation(); }

  TBackend m_backend;
  std::string m_strLocation;
};
TYPED_TEST_SUITE(LedgerConcurrency, LedgerBackends, CBackendNames);

namespace {

bool BindAndRecord(CLedger& ledger, const std::string& address) {
  CLedgerModule module;
  CLedgerError error;
  bool bound = false;
  CLedgerAttempt attempt;
  attempt.m_strAddress = address;
  attempt.m_strResult = kLedgerResultOk;
  if (ledger.Bind(address, NamedByNumber(), &module, &bound, &error) &&
      ledger.RecordAttempt(attempt, &error))
    return true;
  fprintf(stderr, "%s\n", error.m_strText.c_str());
  return false;
}

}  // namespace

TYPED_TEST(LedgerConcurrency, ProcessesBindingAtOnceGetDistinctNumbersAndNamesAndLoseNoRow) {
  constexpr int kProcesses = 4, kOwn = 20, kShared = 5;
  const std::string location = this->m_strLocation;
  {
    // Set up before the race, which the next test runs on a new ledger.
    CLedgerError error;
    ASSERT_TRUE(OpenLedger(location, "setup", &error)) << error.m_strText;
  }
  const std::vector<int> codes = RunProcesses(kProcesses, [&](int index) {
    CLedgerError error;
    auto ledger = OpenLedger(location, "station-" + std::to_string(index), &error);
    if (!ledger) {
      fprintf(stderr, "%s\n", error.m_strText.c_str());
      return false;
    }
    for (int i = 0; i < kOwn + kShared; ++i) {
      // Every process also binds the same few addresses: each may get only one number.
      const std::string address = i < kShared ? Address(i) : Address(100 * (index + 1) + i);
      if (!BindAndRecord(*ledger, address)) return false;
    }
    return true;
  });
  EXPECT_EQ(codes, std::vector<int>(kProcesses, 0));

  CLedgerError error;
  auto ledger = OpenLedger(location, "check", &error);
  ASSERT_TRUE(ledger) << error.m_strText;
  EXPECT_TRUE(ledger->CheckIntegrity(&error)) << error.m_strText;
  std::vector<CLedgerAttempt> rows;
  ASSERT_TRUE(ledger->Export({}, &rows, &error));
  EXPECT_EQ(rows.size(), static_cast<size_t>(kProcesses * (kOwn + kShared)));
  std::set<long long> numbers;
  std::set<std::string> names, addresses;
  for (const CLedgerAttempt& row : rows) {
    ASSERT_TRUE(row.m_number);
    if (!addresses.insert(row.m_strAddress).second) continue;
    CLedgerModule module;
    bool found = false;
    ASSERT_TRUE(ledger->FindByAddress(row.m_strAddress, &found, &module, &error));
    ASSERT_TRUE(found);
    EXPECT_EQ(module.m_nNumber, *row.m_number);
    numbers.insert(module.m_nNumber);
    names.insert(module.m_values.m_name.value_or(""));
  }
  const size_t modules = kProcesses * kOwn + kShared;
  EXPECT_EQ(addresses.size(), modules);
  EXPECT_EQ(numbers.size(), modules);
  EXPECT_EQ(names.size(), modules);
  EXPECT_EQ(*numbers.begin(), 1);
  EXPECT_EQ(*numbers.rbegin(), static_cast<long long>(modules));
}

TYPED_TEST(LedgerConcurrency, ANewLedgerOpenedByManyAtOnceIsSetUpOnce) {
  constexpr int kProcesses = 4;
  const std::string location = this->m_strLocation;
  const std::vector<int> codes = RunProcesses(kProcesses, [&](int index) {
    CLedgerError error;
    auto ledger = OpenLedger(location, "station-" + std::to_string(index), &error);
    if (!ledger) fprintf(stderr, "%s\n", error.m_strText.c_str());
    return ledger && BindAndRecord(*ledger, Address(index));
  });
  EXPECT_EQ(codes, std::vector<int>(kProcesses, 0));
  CLedgerError error;
  auto ledger = OpenLedger(location, "check", &error);
  ASSERT_TRUE(ledger) << error.m_strText;
  CLedgerStats stats;
  ASSERT_TRUE(ledger->Stats(&stats, &error));
  EXPECT_EQ(stats.m_nModules, kProcesses);
  EXPECT_EQ(stats.m_nNextNumber, kProcesses + 1);
  EXPECT_EQ(stats.m_stations.size(), static_cast<size_t>(kProcesses));
}

TYPED_TEST(LedgerConcurrency, AProcessKilledWhileBindingLeavesEveryBindingItReported) {
  constexpr int kReported = 20;
  const std::string location = this->m_strLocation;
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    CLedgerError error;
    auto ledger = OpenLedger(location, "doomed", &error);
    for (int i = 0; ledger; ++i) {
      CLedgerModule module;
      bool bound = false;
      if (!ledger->Bind(Address(i), NamedByNumber(), &module, &bound, &error)) break;
      const long long number = module.m_nNumber;
      if (write(report[1], &number, sizeof number) != sizeof number) break;
    }
    _exit(1);
  }
  close(report[1]);
  std::vector<long long> reported;
  long long number = 0;
  while (reported.size() < kReported && read(report[0], &number, sizeof number) == sizeof number)
    reported.push_back(number);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(report[0]);
  ASSERT_EQ(reported.size(), static_cast<size_t>(kReported));

  CLedgerError error;
  auto ledger = OpenLedger(location, "next-run", &error);
  ASSERT_TRUE(ledger) << error.m_strText;
  EXPECT_TRUE(ledger->CheckIntegrity(&error)) << error.m_strText;
  for (int i = 0; i < kReported; ++i) {
    CLedgerModule module;
    bool found = false;
    ASSERT_TRUE(ledger->FindByAddress(Address(i), &found, &module, &error));
    ASSERT_TRUE(found) << Address(i);
    EXPECT_EQ(module.m_nNumber, reported[i]);
  }
  // The next run carries on above whatever the killed one bound, reported or not.
  CLedgerModule module;
  bool bound = false;
  ASSERT_TRUE(ledger->Bind("FFFFFFFFFFFF", NamedByNumber(), &module, &bound, &error))
      << error.m_strText;
  EXPECT_TRUE(bound);
  CLedgerStats stats;
  ASSERT_TRUE(ledger->Stats(&stats, &error));
  EXPECT_EQ(module.m_nNumber, stats.m_nModules);
  EXPECT_GT(module.m_nNumber, kReported);
}
