// corvane gang against several modsims at once: every module gets its own values, one failing
// module never holds up the others, bad values are refused before anything is sent, and the
// report tells each module's ending.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/CliRig.h"
#include "cli/EventRecorder.h"
#include "engine/gang/Gang.h"
#include "engine/values/ValueTemplate.h"

namespace {

std::vector<std::string> Module(const std::string& address, std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--address", address};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Report rows by port, from a JSON-lines report.
std::map<std::string, nlohmann::json> Rows(const std::string& jsonl) {
  std::map<std::string, nlohmann::json> rows;
  std::stringstream lines(jsonl);
  for (std::string line; std::getline(lines, line);) {
    const auto row = nlohmann::json::parse(line);
    rows[row["port"]] = row;
  }
  return rows;
}

const std::vector<std::string> kFixed = {"--pin",  "1234",   "--role",
                                         "master", "--peer", "00:12:6F:34:56:78"};

TEST(CliGang, NumbersFourModulesInPortOrderAndWritesTheReport) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module("00:00:00:00:00:01"), Module("00:00:00:00:00:02"),
                         Module("00:00:00:00:00:03"), Module("00:00:00:00:00:04")}));
  const std::string report = rig.File("report.csv");
  std::vector<std::string> args = {"gang",     "--name", "BENCH-{seq:03}", "--start", "7",
                                   "--report", report};
  args.insert(args.end(), kFixed.begin(), kFixed.end());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(rig.Run(args), 0) << rig.m_strErr;
  const auto took = std::chrono::steady_clock::now() - start;
  for (size_t k = 0; k < 4; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "BENCH-%03zu", 7 + k);
    EXPECT_EQ(rig.State(k).at("name"), name);
    EXPECT_EQ(rig.State(k).at("role"), "master");
    // All four values given: no Read, only the parallel probe and the Program.
    EXPECT_EQ(rig.State(k).at("commands"), "5");
  }
  // In parallel: four modules take about as long as one Program (6.4 s), not four times it.
  EXPECT_LT(took, std::chrono::seconds(12));

  const std::string csv = ReadText(report);
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "port,address,old_name,old_pin,old_role,old_peer,new_name,new_pin,new_role,new_peer,"
            "result,pace,fell_back,seconds,number\r");
  // Without a ledger the number is empty: {seq} is no number the module keeps.
  static const std::regex kRow(
      "COM5,,,,,,BENCH-009,1234,master,00:12:6F:34:56:78,ok,standard,false,"
      "[0-9.]+,\r\n");
  EXPECT_TRUE(std::regex_search(csv, kRow)) << csv;
  EXPECT_NE(rig.m_strOut.find("BENCH-010"), std::string::npos) << rig.m_strOut;
}

TEST(CliGang, AModuleThatFallsSilentFailsAloneAndTheReportSaysWhich) {
  CCliRig rig;
  ASSERT_TRUE(
      rig.Start({Module("00:00:00:00:00:01"), Module("00:00:00:00:00:02", {"--stop-after", "1"}),
                 Module("00:00:00:00:00:03"), Module("00:00:00:00:00:04")}));
  const std::string report = rig.File("report.jsonl");
  // The name keeps each module's own and the PIN comes from its address: a Read first.
  EXPECT_EQ(rig.Run({"gang", "--pin", "{addr4}", "--report", report, "--format", "json"}), 2)
      << rig.m_strErr;
  const auto rows = Rows(ReadText(report));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows.at("COM4")["result"], "communication error");
  for (const char* port : {"COM3", "COM5", "COM6"}) {
    EXPECT_EQ(rows.at(port)["result"], "ok") << port;
    EXPECT_EQ(rows.at(port)["old_pin"], "1234");
    EXPECT_EQ(rows.at(port)["old_name"], "CORVANE-BT");
  }
  EXPECT_EQ(rows.at("COM6")["new_pin"], "0004");
  EXPECT_TRUE(rows.at("COM6")["number"].is_null()) << "no ledger, no number";
  EXPECT_EQ(rig.State(2).at("pin"), "0003");
  EXPECT_EQ(rig.State(1).at("pin"), "1234");
  EXPECT_EQ(nlohmann::json::parse(rig.m_strOut)["modules"].size(), 4u);
}

TEST(CliGang, APlanGivesEachModuleItsValuesByAddress) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module("00:1A:7D:00:00:01"), Module("00:1A:7D:00:00:02"),
                         Module("00:1A:7D:00:00:03", {"--silent"})}));
  const std::string plan = rig.File("plan.csv");
  std::ofstream(plan) << "address,name,pin,role\r\n"
                      << "00:1A:7D:00:00:02,\"Desk, left\",2222,master\r\n"
                      << "001a7d000003,Gone,3333,\r\n"
                      << "00-1A-7D-00-00-09,Spare,,slave\r\n";
  EXPECT_EQ(rig.Run({"gang", "--plan", plan}), 2) << "a module that answered is not in the plan";
  EXPECT_EQ(rig.State(1).at("name"), "Desk, left");
  EXPECT_EQ(rig.State(1).at("pin"), "2222");
  EXPECT_EQ(rig.State(1).at("role"), "master");
  EXPECT_EQ(rig.State(1).at("peer"), "00:12:6F:34:56:78") << "no peer column: kept";
  EXPECT_EQ(rig.State(0).at("name"), "CORVANE-BT");
  EXPECT_EQ(rig.State(0).at("commands"), "6") << "COM3 was read, not programmed";
  EXPECT_NE(rig.m_strOut.find("not in plan"), std::string::npos) << rig.m_strOut;
  EXPECT_NE(rig.m_strOut.find("no module"), std::string::npos) << rig.m_strOut;
}

TEST(CliGang, BadValuesAreRefusedBeforeAnythingIsSent) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module("00:00:00:00:00:01"), Module("00:00:00:00:00:02")}));
  const std::string plan = rig.File("plan.csv");
  const std::vector<std::pair<std::string, std::string>> plans = {
      {"address,name\n000000000001,A\n00:00:00:00:00:01,B\n", "planned twice"},
      {"address,name\n000000000001,A\n000000000002,A\n", "the name \"A\""},
      {"address,name\n000000000001\n", "line 2"},
      {"address,name\n00000000000G,A\n", "line 2"},
      {"address,name\n000000000001,\"open\n", "line 2"},
      {"address,pin\n000000000001,123456789\n", "pin"},
      {"name,address\n000000000001,A\n", "header"},
      {"address,colour\n000000000001,red\n", "colour"},
  };
  for (const auto& entry : plans) {
    std::ofstream(plan, std::ios::trunc) << entry.first;
    EXPECT_EQ(rig.Run({"gang", "--plan", plan}), 64) << entry.first;
    EXPECT_NE(rig.m_strErr.find(entry.second), std::string::npos) << rig.m_strErr;
  }
  const std::vector<std::vector<std::string>> options = {
      {"gang", "--name", "SAME"},                                  // two modules, one name
      {"gang", "--name", "ABCDEFGHIJKLMNO{seq}", "--start", "9"},  // 17 characters at number 10
      {"gang", "--name", "X{serial}"},
      {"gang", "--pin", "{addr}"},
      {"gang", "--ports", "COM3,COM3"},
      {"gang", "--report", rig.File("report.txt")},
      {"gang", "--plan", rig.File("absent.csv")},
  };
  for (const auto& args : options) {
    EXPECT_EQ(rig.Run(args), 64) << args[1] << " " << args[2];
  }
  EXPECT_TRUE(rig.Untouched(0) && rig.Untouched(1));
}

TEST(CliGang, InterruptedRunReportsWhatWasDoneAndClosesEveryPort) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module("00:00:00:00:00:01"), Module("00:00:00:00:00:02")}));
  const std::string report = rig.File("report.csv");
  std::thread interrupter([&rig] {
    // Once both modules have taken their names, interrupt.
    for (int k = 0; k < 200; ++k) {
      if (rig.State(0).at("name") == "M-1" && rig.State(1).at("name") == "M-2") break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    rig.Interrupt().Set();
  });
  const int code = rig.Run({"gang", "--name", "M-{seq}", "--pin", "1", "--role", "slave", "--peer",
                            "010203040506", "--report", report});
  interrupter.join();
  EXPECT_EQ(code, 130);
  const std::string csv = ReadText(report);
  EXPECT_NE(csv.find("COM3,,,,,,M-1,,,,interrupted,"), std::string::npos) << csv;
  EXPECT_NE(csv.find("COM4,,,,,,M-2,,,,interrupted,"), std::string::npos) << csv;
  EXPECT_NE(rig.m_strErr.find("interrupted"), std::string::npos);
  // No PIN was sent after the interruption, and both ports can be opened again at once.
  EXPECT_EQ(rig.State(0).at("pin"), "1234");
  rig.ClearInterrupt();
  EXPECT_EQ(rig.Run({"read", "--port", "COM3", "--quiet"}), 0) << rig.m_strErr;
  EXPECT_EQ(rig.Run({"read", "--port", "COM4", "--quiet"}), 0) << rig.m_strErr;
}

// A dry run probes and reads every module and shows each one's change as program --dry-run
// does; no module hears a setting command, and values that break a rule are still refused.
TEST(CliGang, DryRunShowsEachModulesChangeAndSendsNoSetting) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module("00:00:00:00:00:01"), Module("00:00:00:00:00:02", {"--silent"}),
                         Module("00:00:00:00:00:03", {"--name", "THIRD"})}));
  ASSERT_EQ(rig.Run({"gang", "--name", "D-{seq}", "--role", "master", "--start", "5", "--quiet",
                     "--dry-run"}),
            0)
      << rig.m_strErr;
  EXPECT_EQ(rig.m_strOut,
            "COM3 (00:00:00:00:00:01): dry run\n"
            "  name: CORVANE-BT -> D-5\n"
            "  pin: 1234 (unchanged)\n"
            "  role: slave -> master\n"
            "  peer: 00:12:6F:34:56:78 (unchanged)\n"
            "COM4: no module\n"
            "COM5 (00:00:00:00:00:03): dry run\n"
            "  name: THIRD -> D-6\n"
            "  pin: 1234 (unchanged)\n"
            "  role: slave -> master\n"
            "  peer: 00:12:6F:34:56:78 (unchanged)\n");

  ASSERT_EQ(rig.Run({"gang", "--ports", "COM3,COM5", "--pin", "{addr4}", "--format", "json",
                     "--dry-run"}),
            0)
      << rig.m_strErr;
  const auto modules = nlohmann::json::parse(rig.m_strOut)["modules"];
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[1]["port"], "COM5");
  EXPECT_EQ(modules[1]["address"], "00:00:00:00:00:03");
  EXPECT_EQ(modules[1]["changes"]["pin"], nlohmann::json({{"old", "1234"}, {"new", "0003"}}));
  EXPECT_EQ(modules[1]["changes"]["name"], nlohmann::json({{"old", "THIRD"}, {"new", "THIRD"}}));
  EXPECT_EQ(modules[1]["result"], "dry run");

  // Two modules would get one name: refused as the real run refuses it.
  EXPECT_EQ(rig.Run({"gang", "--ports", "COM3,COM5", "--name", "SAME", "--dry-run"}), 64);
  EXPECT_EQ(rig.Run({"gang", "--dry-run", "--report", rig.File("r.csv")}), 64);
  for (size_t k = 0; k < 3; ++k) EXPECT_EQ(rig.Writes(k), "") << "module " << k;
  EXPECT_EQ(rig.State(0).at("name"), "CORVANE-BT");
  EXPECT_EQ(rig.State(2).at("commands"), "12") << "two Reads (6 commands each), nothing more";
}

TEST(CliGangValues, TemplatesExpandNumbersAndAddresses) {
  EXPECT_EQ(CValueTemplate("BT-{seq:03}").Expand(7, "001A7DDA7113"), "BT-007");
  EXPECT_EQ(CValueTemplate("{seq}/{seq:02}").Expand(123, ""), "123/123");
  EXPECT_EQ(CValueTemplate("{addr}-{addr4}").Expand(1, "001A7DDA7113"), "001A7DDA7113-7113");
  EXPECT_EQ(CValueTemplate::Check("{seq:3}").empty(), false);
  EXPECT_EQ(CValueTemplate::Check("{seq").empty(), false);
  EXPECT_EQ(CValueTemplate::Check("a}").empty(), false);
  EXPECT_EQ(CValueTemplate::Check("N{seq:09}{addr4}").empty(), true);
}

}  // namespace

// Fast over two modules, one of which needs time to store each setting: both end ok, and the
// report says which one fell back to the standard pace.
TEST(CliGang, FastPaceFallsBackForASettlingModuleAndTheReportSaysSo) {
  CCliRig rig;
  ASSERT_TRUE(
      rig.Start({Module("00:00:00:00:00:01"), Module("00:00:00:00:00:02", {"--settle", "300"})}));
  const std::string report = rig.File("fast.jsonl");
  std::vector<std::string> args = {"gang", "--name",   "F{seq}", "--pace",
                                   "fast", "--report", report,   "--verify"};
  args.insert(args.end(), kFixed.begin(), kFixed.end());
  ASSERT_EQ(rig.Run(args), 0) << rig.m_strErr << rig.m_strOut;
  const auto rows = Rows(ReadText(report));
  EXPECT_EQ(rows.at("COM3")["pace"], "fast");
  EXPECT_EQ(rows.at("COM3")["fell_back"], false);
  EXPECT_EQ(rows.at("COM4")["pace"], "fast");
  EXPECT_EQ(rows.at("COM4")["fell_back"], true);
  // The table a person reads says it in words, in ASCII.
  EXPECT_NE(rig.m_strOut.find(" fast, fell back "), std::string::npos) << rig.m_strOut;
  EXPECT_EQ(rig.State(0).at("name"), "F1");
  EXPECT_EQ(rig.State(1).at("name"), "F2");
  EXPECT_EQ(rig.State(1).at("role"), "master");
}

// The gang's engine without a parser or a terminal: each port's module told as a slot of its
// own, from its arrival to its end, and a port with no module told only its probe's step.
TEST(CliGang, TheEngineTellsEachPortsModuleToAPresenter) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({Module("00:00:00:00:00:01"), Module("00:00:00:00:00:02")}));
  CGangSetup setup;
  setup.m_strPorts = "COM3,COM4";
  setup.m_settings.m_strPin = "4321";
  setup.m_settings.m_bPinGiven = true;
  std::ostringstream out, err;
  CRunEnv env = rig.Env(out, err);
  CGangRun run(setup, env);
  std::string error;
  int code = 0;
  ASSERT_TRUE(run.Prepare(&error, &code)) << error;
  CEventRecorder recorder;
  ASSERT_TRUE(run.Run(recorder, &error)) << error;
  EXPECT_EQ(out.str() + err.str(), "");

  std::lock_guard<std::mutex> lock(recorder.m_mutex);
  EXPECT_EQ(recorder.m_slots[99], std::vector<std::string>({"end at its end, ok 2, failed 0"}));
  for (size_t k = 0; k < 2; ++k) {
    const std::vector<std::string> told = {
        "arrived at COM" + std::to_string(k + 3),     "started 4321", "name", "pin", "role", "peer",
        "ok 00:00:00:00:00:0" + std::to_string(k + 1)};
    EXPECT_EQ(recorder.m_slots[k], told) << "port " << k;
  }
}
