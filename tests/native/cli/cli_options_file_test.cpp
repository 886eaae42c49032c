// corvane station --options-file: the lines a file may hold, and how its options meet those of
// the command line.
#include <gtest/gtest.h>

#include <fstream>

#include "cli/CliRig.h"
#include "cli/OptionsFile.h"
#include "cli/station/StationCommand.h"

namespace {

struct CLineCase {
  const char* m_szText;
  std::vector<std::string> m_args;  // what the text gives
  const char* m_szError;            // or the error it gives
};

TEST(OptionsFile, LinesAreOptionsAsOnTheCommandLine) {
  const std::string tooLong = "--name " + std::string(kOptionsLineMax, 'x');
  const CLineCase cases[] = {
      {"--ports /dev/ttyUSB0,/dev/ttyUSB1\n--verify\n",
       {"--ports", "/dev/ttyUSB0,/dev/ttyUSB1", "--verify"},
       ""},
      {"# a comment\n\n   \n\t--quiet   # the board is the browser's\r\n", {"--quiet"}, ""},
      {"--ledger '/var/lib/line 1/ledger.db'", {"--ledger", "/var/lib/line 1/ledger.db"}, ""},
      {"--name \"BT \\\"{seq}\\\" \\\\ #1\"", {"--name", "BT \"{seq}\" \\ #1"}, ""},
      {"--slots C:\\jigs\\slots.csv", {"--slots", "C:\\jigs\\slots.csv"}, ""},
      {"--events=/tmp/e.jsonl\n--pin ''", {"--events=/tmp/e.jsonl", "--pin", ""}, ""},
      {"--ports a\n--ledger \"x.db", {}, "line 2: a \" is not closed"},
      {"--verify\n--ports a b", {}, "line 2: one option a line (\"b\" follows --ports)"},
      {"--ledger", {}, "line 1: --ledger needs a value"},
      {"ports a", {}, "line 1: \"ports\" is not an option of corvane station"},
      {"--options-file other.conf", {}, "line 1: an options file cannot name another"},
      {"--name a\x1b[2Jb", {}, "line 1: holds a control character"},
      {tooLong.c_str(), {}, "line 1: is longer than 4096 characters"},
  };
  CLI::App app;
  CStationOptions options;
  const CLI::App* station = AddStationCommand(app, options, true);
  for (const CLineCase& c : cases) {
    std::vector<std::string> args;
    std::string error;
    const bool ok = ReadOptionLines(*station, c.m_szText, &args, &error);
    EXPECT_EQ(ok, *c.m_szError == '\0') << c.m_szText;
    EXPECT_EQ(error, c.m_szError) << c.m_szText;
    if (ok) {
      EXPECT_EQ(args, c.m_args) << c.m_szText;
    }
  }
}

TEST(OptionsFile, TheFileReplacesWhatComesBeforeItAndYieldsToWhatComesAfter) {
  CCliRig rig;
  const std::string conf = rig.File("line1.conf");
  std::ofstream(conf) << "--ledger line.db\n--quiet\n--ports a,b\n";
  struct CCase {
    std::vector<std::string> m_given, m_want;
  } cases[] = {
      {{"--ledger", "state.db", "--events", "e.jsonl", "--quiet", "--options-file", conf},
       {"--events", "e.jsonl", "--ledger", "line.db", "--quiet", "--ports", "a,b"}},
      {{"--options-file=" + conf, "--ports", "c", "--verify"},
       {"--ledger", "line.db", "--quiet", "--ports", "c", "--verify"}},
      {{"--ports", "x", "--ports", "y"}, {"--ports", "x", "--ports", "y"}},
  };
  CLI::App app;
  CStationOptions options;
  const CLI::App* station = AddStationCommand(app, options, true);
  CInterrupt interrupt;
  for (CCase& c : cases) {
    std::string error;
    EXPECT_TRUE(ExpandOptionsFile(*station, interrupt, &c.m_given, &error)) << error;
    EXPECT_EQ(c.m_given, c.m_want);
  }
  // Through the command line: one line naming the file and its line, and nothing run.
  ASSERT_TRUE(rig.Start({}));
  std::ofstream(conf) << "--ledger line.db\n--ports 'a,b\n";
  EXPECT_EQ(rig.Run({"station", "--options-file", conf}), 64);
  EXPECT_EQ(rig.m_strErr, "corvane: --options-file: " + conf + " line 2: a ' is not closed\n");
}

}  // namespace
