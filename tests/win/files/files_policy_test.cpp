// The file policy on Windows: the names the system keeps for devices are refused in any
// folder, a folder is no file, and a line file ending in a fragment is mended.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>

#include "platform/AppendFile.h"
#include "platform/FilePolicy.h"

namespace {

std::string TempFolder() {
  char base[MAX_PATH] = "";
  GetTempPathA(sizeof base, base);
  const std::string folder =
      std::string(base) + "files_policy_" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

TEST(FilePolicy, DeviceNamesAndFoldersAreRefusedAndPlainNamesAllowed) {
  const std::string folder = TempFolder();
  const struct {
    std::string path;
    const char* says;  // empty: allowed
  } cases[] = {
      {"COM6.csv", "keeps for a device"},
      {folder + "\\nul.txt", "keeps for a device"},
      {folder + "\\Lpt1.tar.gz", "keeps for a device"},
      {"\\\\.\\COM6", "is a device"},
      {folder, "is a folder"},
      {folder + "\\report.csv", ""},
      {folder + "\\COM10.csv", ""},
  };
  for (const auto& c : cases) {
    for (const EWriteUse use : {EWriteUse::Replace, EWriteUse::Append}) {
      const std::string why = CheckWriteTarget(c.path, use);
      EXPECT_NE(why.find(c.says), std::string::npos) << c.path << ": " << why;
      EXPECT_EQ(why.empty(), *c.says == '\0') << c.path << ": " << why;
    }
  }
  RemoveDirectoryA(folder.c_str());
}

TEST(FilePolicy, ALineFileThatEndsInAFragmentIsMendedBeforeTheNextLine) {
  const std::string folder = TempFolder();
  const std::string path = folder + "\\events.jsonl";
  std::ofstream(path, std::ios::binary) << "{\"a\":1}\n{\"cut";
  std::string error;
  {
    const CLineWriter write = OpenLineFile(path, &error);
    ASSERT_TRUE(write) << error;
    EXPECT_TRUE(write("{\"b\":2}\n"));
  }
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(text.str(), "{\"a\":1}\n{\"cut\n{\"b\":2}\n");
  EXPECT_FALSE(OpenLineFile(folder + "\\CON.jsonl", &error));
  DeleteFileA(path.c_str());
  RemoveDirectoryA(folder.c_str());
}

}  // namespace
