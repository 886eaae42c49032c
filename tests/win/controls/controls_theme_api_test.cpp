#include <gtest/gtest.h>

#include <memory>

#include "controls/ThemeApi.h"
#include "fakes/FakeThemeLibrary.h"

namespace {
using fake_theme::CallNames;
using fake_theme::g_calls;

// Every operation answers negatively and nothing reaches the library.
void ExpectAllNegative() {
  g_calls.clear();
  RECT rc = {0, 0, 10, 10};
  HDC hDC = ::GetDC(nullptr);
  EXPECT_FALSE(CThemeApi::IsLoaded());
  EXPECT_EQ(CThemeApi::OpenThemeData(nullptr, "Button"), nullptr);
  EXPECT_FALSE(CThemeApi::IsAppThemed());
  EXPECT_FALSE(CThemeApi::CloseThemeData(fake_theme::g_hFakeTheme));
  EXPECT_FALSE(CThemeApi::DrawThemeBackground(fake_theme::g_hFakeTheme, hDC, 1, 1, &rc, nullptr));
  EXPECT_FALSE(CThemeApi::DrawThemeText(fake_theme::g_hFakeTheme, hDC, 1, 1, "Read", 0, 0, &rc));
  ::ReleaseDC(nullptr, hDC);
  EXPECT_TRUE(g_calls.empty());
}

TEST(ThemeApiLoading, NoInstanceIsAliveBeforeTheseTests) {
  // The tests below own the class-wide state; another live instance would spoil them.
  EXPECT_FALSE(CThemeApi::IsLoaded());
}

TEST(ThemeApiLoading, MissingLibraryLeavesEveryOperationNegative) {
  fake_theme::CScope scope;
  fake_theme::g_bPresent = false;
  CThemeApi api;
  EXPECT_EQ(fake_theme::g_nLoads, 0);
  EXPECT_TRUE(fake_theme::g_lookups.empty());
  ExpectAllNegative();
}

TEST(ThemeApiLoading, CompleteLibraryLooksUpTheSevenFunctionsInOrder) {
  fake_theme::CScope scope;
  CThemeApi api;
  EXPECT_TRUE(CThemeApi::IsLoaded());
  EXPECT_EQ(fake_theme::g_nLoads, 1);
  EXPECT_EQ(fake_theme::g_nFrees, 0);
  EXPECT_EQ(fake_theme::g_lookups,
            (std::vector<std::string>{"CloseThemeData", "DrawThemeBackground", "DrawThemeText",
                                      "GetThemeBackgroundContentRect", "IsAppThemed",
                                      "IsThemeActive", "OpenThemeData"}));
}

class ThemeApiOneFunctionMissing : public testing::TestWithParam<const char*> {};

TEST_P(ThemeApiOneFunctionMissing, ReleasesTheLibraryAtOnceAndStaysUnthemed) {
  fake_theme::CScope scope;
  fake_theme::g_strMissing = GetParam();
  {
    CThemeApi api;
    EXPECT_EQ(fake_theme::g_nLoads, 1);
    EXPECT_EQ(fake_theme::g_nFrees, 1) << "freed while the instance is still alive";
    ExpectAllNegative();
  }
  EXPECT_EQ(fake_theme::g_nFrees, 1) << "freed a second time by the destructor";
}

INSTANTIATE_TEST_SUITE_P(EachOfTheSeven, ThemeApiOneFunctionMissing,
                         testing::Values("CloseThemeData", "DrawThemeBackground", "DrawThemeText",
                                         "GetThemeBackgroundContentRect", "IsAppThemed",
                                         "IsThemeActive", "OpenThemeData"));

TEST(ThemeApiLoading, LastDestructionUnloadsAndANewInstanceLoadsAgain) {
  fake_theme::CScope scope;
  auto first = std::make_unique<CThemeApi>();
  auto second = std::make_unique<CThemeApi>();
  EXPECT_EQ(fake_theme::g_nLoads, 1) << "a second instance must not load again";
  first.reset();
  EXPECT_TRUE(CThemeApi::IsLoaded());
  EXPECT_EQ(fake_theme::g_nFrees, 0);
  second.reset();
  EXPECT_FALSE(CThemeApi::IsLoaded());
  EXPECT_EQ(fake_theme::g_nFrees, 1);
  EXPECT_FALSE(CThemeApi::IsAppThemed());

  CThemeApi third;
  EXPECT_TRUE(CThemeApi::IsLoaded());
  EXPECT_EQ(fake_theme::g_nLoads, 2);
  EXPECT_EQ(fake_theme::g_lookups.size(), 14u);
}

TEST(ThemeApiCalls, PassArgumentsThroughAndJudgeTheResult) {
  fake_theme::CScope scope;
  CThemeApi api;
  HDC hDC = ::GetDC(nullptr);
  HWND hWnd = ::GetDesktopWindow();
  RECT rc = {1, 2, 30, 40};

  EXPECT_EQ(CThemeApi::OpenThemeData(hWnd, "Button"), fake_theme::g_hFakeTheme);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].hWnd, hWnd);
  EXPECT_EQ(g_calls[0].strText, L"Button");

  fake_theme::g_bAppThemed = FALSE;
  EXPECT_FALSE(CThemeApi::IsAppThemed());
  fake_theme::g_bAppThemed = TRUE;
  EXPECT_TRUE(CThemeApi::IsAppThemed());

  g_calls.clear();
  EXPECT_TRUE(CThemeApi::DrawThemeBackground(fake_theme::g_hFakeTheme, hDC, 1, 3, &rc, nullptr));
  EXPECT_TRUE(CThemeApi::DrawThemeBackground(fake_theme::g_hFakeTheme, hDC, 1, 2, &rc, &rc));
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].hDC, hDC);
  EXPECT_EQ(g_calls[0].nPart, 1);
  EXPECT_EQ(g_calls[0].nState, 3);
  EXPECT_TRUE(EqualRect(&g_calls[0].rc, &rc));
  EXPECT_FALSE(g_calls[0].bHasClip);
  EXPECT_TRUE(g_calls[1].bHasClip);

  g_calls.clear();
  EXPECT_TRUE(
      CThemeApi::DrawThemeText(fake_theme::g_hFakeTheme, hDC, 1, 4, "Program", 0x14, 0, &rc));
  EXPECT_TRUE(CThemeApi::DrawThemeText(fake_theme::g_hFakeTheme, hDC, 1, 1, "", 0x15, 7, &rc));
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].strText, L"Program");
  EXPECT_EQ(g_calls[0].nCount, 7);
  EXPECT_EQ(g_calls[0].nState, 4);
  EXPECT_EQ(g_calls[0].dwFlags, 0x14u);
  EXPECT_EQ(g_calls[1].strText, L"");
  EXPECT_EQ(g_calls[1].nCount, 0) << "an empty text has zero characters, not its terminator";
  EXPECT_EQ(g_calls[1].dwFlags2, 7u);

  // A failing HRESULT is a failure, though the call was made.
  fake_theme::g_hrResult = E_FAIL;
  g_calls.clear();
  EXPECT_FALSE(CThemeApi::CloseThemeData(fake_theme::g_hFakeTheme));
  EXPECT_FALSE(CThemeApi::DrawThemeBackground(fake_theme::g_hFakeTheme, hDC, 1, 1, &rc, nullptr));
  EXPECT_FALSE(CThemeApi::DrawThemeText(fake_theme::g_hFakeTheme, hDC, 1, 1, "x", 0, 0, &rc));
  EXPECT_EQ(g_calls.size(), 3u);
  fake_theme::g_hrResult = S_OK;
  EXPECT_TRUE(CThemeApi::CloseThemeData(fake_theme::g_hFakeTheme));

  // The library may refuse a theme; the refusal comes back as a null handle.
  fake_theme::g_hOpenResult = nullptr;
  EXPECT_EQ(CThemeApi::OpenThemeData(hWnd, "Button"), nullptr);
  ::ReleaseDC(nullptr, hDC);
}

TEST(ThemeApiCalls, NullThemeHandleCallsNothingEvenWhenLoaded) {
  fake_theme::CScope scope;
  CThemeApi api;
  ASSERT_TRUE(CThemeApi::IsLoaded());
  HDC hDC = ::GetDC(nullptr);
  RECT rc = {0, 0, 5, 5};
  EXPECT_FALSE(CThemeApi::CloseThemeData(nullptr));
  EXPECT_FALSE(CThemeApi::DrawThemeBackground(nullptr, hDC, 1, 1, &rc, nullptr));
  EXPECT_FALSE(CThemeApi::DrawThemeText(nullptr, hDC, 1, 1, "Read", 0, 0, &rc));
  ::ReleaseDC(nullptr, hDC);
  EXPECT_TRUE(g_calls.empty());
}

TEST(ThemeApiCalls, TextIsConvertedFromTheSystemCodePage) {
  fake_theme::CScope scope;
  CThemeApi api;
  RECT rc = {0, 0, 5, 5};
  // A character above 0x7F has to come out as the code page says, not as a widened byte.
  const char szText[] = {'A', static_cast<char>(0xE9), 'B', 0};
  WCHAR wszExpected[8] = {};
  ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, szText, -1, wszExpected, 8);
  EXPECT_TRUE(CThemeApi::DrawThemeText(fake_theme::g_hFakeTheme, nullptr, 1, 1, szText, 0, 0, &rc));
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].strText, std::wstring(wszExpected));
  EXPECT_EQ(g_calls[0].nCount, 3);
}
}  // namespace

namespace {
TEST(ThemeApiSystemLibrary, WineOffersAllSevenFunctions) {
  CThemeApi::SetLoader(nullptr);
  {
    CThemeApi api;
    EXPECT_TRUE(CThemeApi::IsLoaded());
  }
  EXPECT_FALSE(CThemeApi::IsLoaded());
}
}  // namespace
