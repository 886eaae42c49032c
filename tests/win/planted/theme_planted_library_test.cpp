// The visual-styles library comes from the system folder, never from the program's own: this
// test program runs from a folder that also holds a planted UXTHEME.DLL (planted_uxtheme.c).
// It is a program of its own so that nothing else in it has loaded the library before.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "controls/ThemeApi.h"

namespace {

std::string Folder(const std::string& strPath) {
  const size_t n = strPath.find_last_of("\\/");
  return n == std::string::npos ? std::string() : strPath.substr(0, n);
}

std::string ModulePath(HMODULE hModule) {
  char szPath[MAX_PATH] = "";
  ::GetModuleFileNameA(hModule, szPath, MAX_PATH);
  return szPath;
}

bool PlantedLibraryRan() {
  char szMark[16] = "";
  return ::GetEnvironmentVariableA("CORVANE_PLANTED_UXTHEME", szMark, sizeof szMark) != 0;
}

class ThemePlantedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string strPlanted = Folder(ModulePath(nullptr)) + "\\UXTHEME.DLL";
    ASSERT_NE(::GetFileAttributesA(strPlanted.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the planted library is missing beside the test: " << strPlanted;
    ASSERT_FALSE(PlantedLibraryRan());
    char szSystem[MAX_PATH] = "";
    ASSERT_NE(::GetSystemDirectoryA(szSystem, MAX_PATH), 0u);
    m_strSystem = szSystem;
  }

  // The module now loaded under the library's name comes from the system folder.
  void ExpectSystemLibraryLoaded() {
    HMODULE hModule = ::GetModuleHandleA("UXTHEME.DLL");
    ASSERT_NE(hModule, nullptr);
    EXPECT_EQ(::lstrcmpiA(Folder(ModulePath(hModule)).c_str(), m_strSystem.c_str()), 0)
        << ModulePath(hModule);
  }

  std::string m_strSystem;
};

TEST_F(ThemePlantedLibrary, ProgramLoadsTheSystemLibraryAndNeverThePlantedOne) {
  {
    CThemeApi api;
    EXPECT_TRUE(CThemeApi::IsLoaded());
    EXPECT_FALSE(PlantedLibraryRan()) << "the planted UXTHEME.DLL ran inside the program";
    ExpectSystemLibraryLoaded();
  }
  EXPECT_FALSE(CThemeApi::IsLoaded());

  // The way older systems take, without the loader's search flags: the full path.
  HMODULE hModule = CThemeApi::LoadSystemLibraryByPath("UXTHEME.DLL");
  ASSERT_NE(hModule, nullptr);
  EXPECT_FALSE(PlantedLibraryRan());
  ExpectSystemLibraryLoaded();
  ::FreeLibrary(hModule);

  EXPECT_EQ(CThemeApi::LoadSystemLibrary("NO_SUCH_LIBRARY.DLL"), nullptr);
  EXPECT_EQ(CThemeApi::LoadSystemLibraryByPath("NO_SUCH_LIBRARY.DLL"), nullptr);
}

}  // namespace
