// The dashboard's queries, the same on both engines: hours and yields counted by the database,
// attempts newest first with filters and paging, search by address, name or number.
#include "ledger/LedgerQueries.h"
#include "ledger/LedgerRig.h"

template <typename TBackend>
class LedgerQueries : public testing::Test {
 protected:
  // Three modules at A over two hours, one at B; module 2 failed first; 9 was never bound.
  void SetUp() override {
    CLedgerError error;
    m_pLedger = OpenLedger(m_backend.NewLocation(), "A", &error);
    ASSERT_TRUE(m_pLedger) << error.m_strText;
    for (int n = 1; n <= 4; ++n) {
      CLedgerModule module;
      bool bound = false;
      ASSERT_TRUE(m_pLedger->Bind(Address(n), NamedByNumber(n == 4 ? "50%_x" : "MOD-"), &module,
                                  &bound, &error));
    }
    const struct {
      int n;
      const char* time;
      const char* station;
      const char* result;
    } kRows[] = {{1, "2025-05-20T10:05:00.000Z", "A", "ok"},
                 {2, "2025-05-20T10:20:00.000Z", "A", "timeout"},
                 {2, "2025-05-20T10:40:00.000Z", "A", "ok"},
                 {3, "2025-05-20T11:10:00.000Z", "A", "ok"},
                 {4, "2025-05-20T11:15:00.000Z", "B", "ok"},
                 {9, "2025-05-20T11:30:00.000Z", "B", "no answer"}};
    for (const auto& row : kRows) {
      CLedgerAttempt attempt;
      attempt.m_strTime = row.time;
      attempt.m_strStation = row.station;
      attempt.m_strAddress = Address(row.n);
      attempt.m_strResult = row.result;
      ASSERT_TRUE(m_pLedger->RecordAttempt(attempt, &error)) << error.m_strText;
    }
  }
  CLedgerQueries& Q() { return m_pLedger->Queries(); }

  TBackend m_backend;
  std::unique_ptr<CLedger> m_pLedger;
};
TYPED_TEST_SUITE(LedgerQueries, LedgerBackends, CBackendNames);

TYPED_TEST(LedgerQueries, CountsModulesOkPerHourAndStationWithinTheSpan) {
  std::vector<CLedgerHourCount> counts;
  CLedgerError error;
  ASSERT_TRUE(this->Q().HourlyOk({"2025-05-20", "2025-05-21"}, &counts, &error)) << error.m_strText;
  ASSERT_EQ(counts.size(), 3u);
  EXPECT_EQ(counts[0].m_strHour + counts[0].m_strStation, "2025-05-20T10A");
  EXPECT_EQ(counts[0].m_nModulesOk, 2);
  EXPECT_EQ(counts[1].m_strHour + counts[1].m_strStation, "2025-05-20T11A");
  EXPECT_EQ(counts[2].m_strStation, "B");
  ASSERT_TRUE(this->Q().HourlyOk({"2025-05-20T11:00", ""}, &counts, &error));
  EXPECT_EQ(counts.size(), 2u);
}

TYPED_TEST(LedgerQueries, YieldsCountModulesOkAndThoseNeverOkPerStation) {
  std::vector<CLedgerYield> yields;
  CLedgerError error;
  ASSERT_TRUE(this->Q().YieldByStation({}, &yields, &error)) << error.m_strText;
  ASSERT_EQ(yields.size(), 2u);
  EXPECT_EQ(yields[0].m_strStation, "A");
  EXPECT_EQ(yields[0].m_nOk, 3);
  EXPECT_EQ(yields[0].m_nFailed, 0);
  EXPECT_EQ(yields[0].m_nAttempts, 4);
  EXPECT_EQ(yields[1].m_nOk, 1);
  EXPECT_EQ(yields[1].m_nFailed, 1);
}

TYPED_TEST(LedgerQueries, LatestAttemptsFilterAndPageNewestFirst) {
  const struct {
    CLedgerAttemptQuery query;
    std::vector<std::string> times;  // minutes past 10:00 of the rows expected, in order
  } kCases[] = {
      {{"", "", "", 0, 2}, {"11:30", "11:15"}},
      {{"A", "failed", "", 0, 50}, {"10:20"}},
      {{"", "ok", "2025-05-20T11:00", 0, 50}, {"11:15", "11:10"}},
      {{"B", "no answer", "", 0, 50}, {"11:30"}},
      {{"A", "", "", 0, 0}, {"11:10"}},  // a limit below one is one
  };
  for (const auto& c : kCases) {
    std::vector<CLedgerAttemptRow> rows;
    CLedgerError error;
    ASSERT_TRUE(this->Q().LatestAttempts(c.query, &rows, &error)) << error.m_strText;
    std::vector<std::string> times;
    for (const auto& row : rows) times.push_back(row.m_attempt.m_strTime.substr(11, 5));
    EXPECT_EQ(times, c.times) << c.query.m_strStation << "/" << c.query.m_strResult;
  }
  std::vector<CLedgerAttemptRow> first, next;
  CLedgerError error;
  ASSERT_TRUE(this->Q().LatestAttempts({"", "", "", 0, 4}, &first, &error));
  ASSERT_TRUE(this->Q().LatestAttempts({"", "", "", first.back().m_nId, 4}, &next, &error));
  ASSERT_EQ(next.size(), 2u);
  EXPECT_EQ(next[0].m_attempt.m_strTime.substr(11, 5), "10:20");
  EXPECT_FALSE(this->Q().LatestAttempts({"", "", "yesterday", 0, 4}, &first, &error));
  EXPECT_FALSE(error.m_bUnavailable);
}

TYPED_TEST(LedgerQueries, SearchFindsByAddressNameOrNumberAndTakesWildcardsLiterally) {
  const struct {
    std::string text;
    std::vector<long long> numbers;
  } kCases[] = {{"mod-2", {2}},      {"000000000003", {3}},
                {"4", {4}},          {"0000000000", {1, 2, 3, 4, -1}},
                {"%", {4}},          {"_", {4}},
                {"' OR 1=1 --", {}}, {"9", {-1}}};
  for (const auto& c : kCases) {
    std::vector<CLedgerFound> found;
    CLedgerError error;
    ASSERT_TRUE(this->Q().Search(c.text, 50, &found, &error)) << error.m_strText;
    std::vector<long long> numbers;
    for (const auto& f : found) numbers.push_back(f.m_nNumber);
    EXPECT_EQ(numbers, c.numbers) << c.text;
  }
  std::vector<CLedgerFound> found;
  CLedgerError error;
  ASSERT_TRUE(this->Q().Search("MOD", 1, &found, &error));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].m_strLastResult, "ok");
  EXPECT_EQ(found[0].m_strLastTime, "2025-05-20T10:05:00.000Z");
}
