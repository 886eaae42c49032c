// The file policy on Windows: the names the system keeps for devices are refused in any
// folder and with any extension, before anything is opened; a folder is no file either.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/AppendFile.h"
#include "platform/FilePolicy.h"

TEST(FilePolicy, DeviceNamesAndFoldersAreRefusedAndPlainNamesAllowed) {
  char temp[MAX_PATH] = "";
  ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
  const std::string folder = temp;
  const std::pair<std::string, const char*> cases[] = {
      {"COM6.csv", "keeps for a device"},
      {folder + "nul.txt", "keeps for a device"},
      {folder + "Lpt1.tar.gz", "keeps for a device"},
      {folder + "aux .jsonl", "keeps for a device"},
      {"\\\\.\\COM6", "is a device"},
      {folder, "is a folder"},
      {folder + "COM10.csv", ""},
      {folder + "report.csv", ""},
  };
  for (const auto& c : cases) {
    for (const EWriteUse use : {EWriteUse::Replace, EWriteUse::Append}) {
      const std::string why = CheckWriteTarget(c.first, use);
      const bool refused = *c.second != '\0';
      EXPECT_TRUE(refused ? why.find(c.second) != std::string::npos : why.empty())
          << c.first << ": " << why;
    }
  }
  std::string error;
  EXPECT_FALSE(OpenLineFile(folder + "CON.jsonl", &error));
  EXPECT_NE(error.find("keeps for a device"), std::string::npos) << error;
}
