// corvane read / program / ports against modsim: what a user of the command line sees (output,
// exit code, messages) and what the module holds afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "cli/CliRig.h"
#include "engine/report/Output.h"
#include "cli/PortsCommand.h"
#include "engine/values/Profile.h"
#include "tests/common/MessageTexts.h"

namespace {

// The framed commands a module heard, as their letters in order ("OGLAHT" for a Read).
std::string Commands(const std::string& transcript) {
  static const std::regex kCommand("EV command [0-9]+ ([A-Z])");
  std::string letters;
  for (std::sregex_iterator it(transcript.begin(), transcript.end(), kCommand), end; it != end;
       ++it) {
    letters += (*it)[1].str();
  }
  return letters;
}

const std::vector<std::string> kModule = {
    "--address", "00:1A:7D:DA:71:13", "--name", "CORVANE-BT", "--pin", "1234", "--role", "slave",
    "--peer",    "00:12:6F:34:56:78"};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(CliRead, SearchesThePortsAndPrintsTheSettingsAsTextWithProgressOnATerminal) {
  CCliRig rig;
  // COM3 is silent, the module answers on COM4: the search goes on past a silent port.
  ASSERT_TRUE(rig.Start({{"--silent"}, kModule}));
  ASSERT_EQ(rig.Run({"read"}, /*terminal=*/true), 0) << rig.m_strErr;
  EXPECT_EQ(rig.m_strOut,
            "Port:           COM4\n"
            "Device Address: 00 : 1A : 7D : DA : 71 : 13\n"
            "Device Name:    CORVANE-BT\n"
            "Peer Address:   00 12 6F 34 56 78\n"
            "Pin Code:       1234\n"
            "Role:           Slave\n");
  EXPECT_EQ(Commands(rig.Transcript(1)), "OGLAHT");
  EXPECT_NE(rig.m_strErr.find("searching COM3"), std::string::npos);
  EXPECT_NE(rig.m_strErr.find("searching COM4"), std::string::npos);
  EXPECT_NE(rig.m_strErr.find("[####---] 4/7 reading the name"), std::string::npos);
  EXPECT_NE(rig.m_strErr.find("[#######] 7/7"), std::string::npos);
  // The bar is erased at the end: the last thing on the terminal is an empty line.
  EXPECT_EQ(rig.m_strErr.substr(rig.m_strErr.size() - 4), "\r\x1b[K");
}

TEST(CliRead, JsonOnANamedPortWithTurnOffAndNoProgressWhenQuiet) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({kModule, kModule}));
  ASSERT_EQ(rig.Run({"read", "--port", "com4", "--format", "json", "--turn-off", "--quiet"},
                    /*terminal=*/true),
            0)
      << rig.m_strErr;
  EXPECT_EQ(rig.m_strOut,
            "{\"port\":\"COM4\",\"address\":\"00:1A:7D:DA:71:13\",\"name\":\"CORVANE-BT\","
            "\"pin\":\"1234\",\"role\":\"slave\",\"peer\":\"00:12:6F:34:56:78\",\"result\":"
            "\"ok\",\"pace\":\"standard\",\"fell_back\":false}\n");
  EXPECT_EQ(rig.m_strErr, "");
  EXPECT_TRUE(rig.Untouched(0)) << "--port COM4 must not probe COM3";
  EXPECT_EQ(Commands(rig.Transcript(1)), "OGLAHTF");
  EXPECT_EQ(rig.State(1).at("radio"), "off");
}

TEST(CliProgram, AllFourSettingsAreWrittenWithoutARead) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({kModule}));
  ASSERT_EQ(rig.Run({"program", "--port", rig.Path(0), "--name", "BENCH 07", "--pin", "4711",
                     "--role", "MASTER", "--peer", "0102 0a0b c0ff" + std::string()}),
            64)
      << "a peer with spaces is not one of the three forms";
  ASSERT_EQ(rig.Run({"program", "--port", rig.Path(0), "--name", "BENCH 07", "--pin", "4711",
                     "--role", "MASTER", "--peer", "01020a0bc0ff", "--format", "json"}),
            0)
      << rig.m_strErr;
  const auto state = rig.State(0);
  EXPECT_EQ(state.at("name"), "BENCH 07");
  EXPECT_EQ(state.at("pin"), "4711");
  EXPECT_EQ(state.at("role"), "master");
  EXPECT_EQ(state.at("peer"), "01:02:0A:0B:C0:FF");
  EXPECT_EQ(Commands(rig.Transcript(0)), "ONIME");
  const auto json = nlohmann::json::parse(rig.m_strOut);
  EXPECT_EQ(json["port"], rig.Path(0));
  EXPECT_TRUE(json["address"].is_null()) << "no Read, so the address is not known";
  EXPECT_EQ(json["written"], nlohmann::json({"name", "pin", "role", "peer"}));
  EXPECT_FALSE(json.contains("verified"));
}

TEST(CliProgram, OneSettingReadsTheOthersFirstAndKeepsThem) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({With(kModule, {"--role", "master"})}));
  ASSERT_EQ(rig.Run({"program", "--pin", "0000"}), 0) << rig.m_strErr;
  const auto state = rig.State(0);
  EXPECT_EQ(state.at("pin"), "0000");
  EXPECT_EQ(state.at("name"), "CORVANE-BT");
  EXPECT_EQ(state.at("role"), "master");
  EXPECT_EQ(state.at("peer"), "00:12:6F:34:56:78");
  // A whole Read, then the whole Program with the read values sent back, the module's address
  // asked for again before the first setting and after the last.
  EXPECT_EQ(Commands(rig.Transcript(0)), "OGLAHTOLNIMEL");
  EXPECT_NE(rig.m_strOut.find("Pin Code:       0000\n"), std::string::npos);
  EXPECT_NE(rig.m_strOut.find("Device Address: 00 : 1A : 7D : DA : 71 : 13\n"), std::string::npos);
}

TEST(CliProgram, VerifyConfirmsWhatTheModuleHoldsThenTurnsItOff) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({kModule}));
  ASSERT_EQ(rig.Run({"program", "--name", "A", "--pin", "1", "--role", "slave", "--peer",
                     "00-00-00-00-00-01", "--verify", "--turn-off", "--format", "json"}),
            0)
      << rig.m_strErr;
  EXPECT_EQ(nlohmann::json::parse(rig.m_strOut)["verified"], true);
  // The turn-off comes at the very end, after the verifying Read.
  EXPECT_EQ(Commands(rig.Transcript(0)), "ONISEOGLAHTF");
  EXPECT_EQ(rig.State(0).at("radio"), "off");
}

TEST(CliProgram, VerifyReportsASettingTheModuleAcknowledgedButDidNotStore) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({With(kModule, {"--no-store", "N"})}));
  EXPECT_EQ(rig.Run({"program", "--name", "NEW-NAME", "--pin", "9999", "--role", "slave", "--peer",
                     "00:12:6F:34:56:78", "--verify"}),
            3);
  EXPECT_NE(rig.m_strErr.find("name (wrote \"NEW-NAME\", read \"CORVANE-BT\")"), std::string::npos)
      << rig.m_strErr;
  EXPECT_EQ(rig.m_strErr.find("pin"), std::string::npos) << "only the name differs";
  EXPECT_NE(rig.m_strOut.find("Verified:       no\n"), std::string::npos);
}

TEST(CliFailures, NoModuleSilentModuleAndWhatWasAcknowledged) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--silent"}, With(kModule, {"--stop-after", "2"})}));
  // Nobody answers the probe on COM3.
  EXPECT_EQ(rig.Run({"read", "--port", "COM3"}), 1);
  EXPECT_EQ(rig.m_strErr, std::string(kCannotConnect) + "\n");
  EXPECT_EQ(rig.Run({"read", "--port", "COM9"}), 1) << "a port that does not exist";

  // COM4 takes the handshake and the name, then falls silent.
  EXPECT_EQ(rig.Run({"program", "--port", "COM4", "--name", "X", "--pin", "1", "--role", "master",
                     "--peer", "010203040506", "--format", "json"}),
            2);
  EXPECT_EQ(rig.m_strErr.substr(0, sizeof kCommError), std::string(kCommError) + "\n");
  EXPECT_NE(rig.m_strErr.find("acknowledged: name\n"), std::string::npos) << rig.m_strErr;
  const auto json = nlohmann::json::parse(rig.m_strOut);
  EXPECT_EQ(json["result"], "communication error");
  EXPECT_EQ(json["written"], nlohmann::json({"name"}));
  EXPECT_EQ(rig.State(1).at("name"), "X");
  // Only the acknowledged name is known; the PIN, role and peer were sent to no effect.
  EXPECT_EQ(json["name"], "X");
  EXPECT_TRUE(json["pin"].is_null() && json["role"].is_null() && json["peer"].is_null()) << json;
  EXPECT_EQ(rig.State(1).at("pin"), "1234");

  // A silent module holds nothing this run knows of.
  EXPECT_EQ(rig.Run({"program", "--port", "COM3", "--name", "X", "--pin", "1", "--role", "master",
                     "--peer", "010203040506", "--format", "json"}),
            1);
  const auto none = nlohmann::json::parse(rig.m_strOut);
  EXPECT_EQ(none["result"], "no module");
  for (const char* field : {"address", "name", "pin", "role", "peer"}) {
    EXPECT_TRUE(none[field].is_null()) << field << ": " << none;
  }
}

TEST(CliUsage, BadInputIsRefusedBeforeAnyPortIsOpened) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({kModule}));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"program", "--name", "SEVENTEEN-CHARS-X"}, "--name"},
      {{"program", "--name", "tab\there"}, "--name"},
      {{"program", "--name", "cr\rhere"}, "--name"},
      {{"program", "--pin", ""}, "--pin"},
      {{"program", "--pin", "123456789"}, "--pin"},
      {{"program", "--pin", "12\xC3\xA9"}, "--pin"},
      {{"program", "--role", "boss"}, "--role"},
      {{"program", "--peer", "01:02:03:04:05"}, "--peer"},
      {{"program", "--peer", "01:02-03:04:05:06"}, "--peer"},
      {{"program", "--peer", "0102030405GG"}, "--peer"},
      {{"read", "--port", "COM"}, "--port"},
      {{"read", "--port", "com0"}, "--port"},
      {{"read", "--format", "xml"}, "--format"},
      {{"read", "--verify"}, "--verify"},
      {{"flash"}, "flash"},
      {{}, "command"},
  };
  for (const auto& entry : cases) {
    std::string line;
    for (const std::string& arg : entry.first) line += " " + arg;
    EXPECT_EQ(rig.Run(entry.first), 64) << line;
    EXPECT_NE(rig.m_strErr.find(entry.second), std::string::npos) << line << ": " << rig.m_strErr;
    EXPECT_EQ(std::count(rig.m_strErr.begin(), rig.m_strErr.end(), '\n'), 1) << rig.m_strErr;
    EXPECT_EQ(rig.m_strOut, "") << line;
  }
  EXPECT_TRUE(rig.Untouched(0));
}

// Each command's help names the values its options take, its own exit codes, and the ledger
// only where it takes one.
TEST(CliUsage, EachCommandsHelpSaysWhatItTakesAndGives) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{}}));
  const struct {
    const char* command;
    std::vector<const char*> says, never;
  } cases[] = {
      {"ports", {"--format text|json "}, {"Ledger:", "TEXT"}},
      {"doctor", {"--port PORT "}, {"Ledger:"}},
      {"pair", {"3 --verify found a difference"}, {"Ledger:", "TEXT:"}},
      {"program", {"Ledger:", "--from FILE ", "3 --verify"}, {"TEXT:"}},
      {"gang", {"Ledger:", "--plan FILE ", "2 a module failed"}, {"3 --verify", "TEXT:"}},
      {"station",
       {"--ports PORTS ", "--watch DIR ", "--slots FILE ", "--events FILE ", "--idle-exit SECONDS ",
        "--http ADDRESS:PORT ", "--http-token FILE ", "2 a module failed"},
       {"3 --verify", "TEXT:", "FLOAT"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rig.Run({c.command, "--help"}), 0) << c.command;
    for (const char* text : c.says) EXPECT_NE(rig.m_strOut.find(text), std::string::npos) << text;
    for (const char* text : c.never) EXPECT_EQ(rig.m_strOut.find(text), std::string::npos) << text;
  }
}

// A device path relative to the current folder is opened from there, and its name is shown as
// the OS spells it (a backslash is no module's byte to escape).
TEST(CliPorts, ARelativeDevicePathIsOpenedFromTheCurrentFolder) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--name", "RELATIVE"}}));
  ASSERT_EQ(symlink(rig.Path(0).c_str(), rig.File("jig\\4").c_str()), 0);
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(rig.Dir());
  const int read = rig.Run({"read", "--port", "jig\\4", "--format", "json", "--quiet"});
  const std::string json = rig.m_strOut;
  const int doctor = rig.Run({"doctor", "--port", "jig\\4"});
  std::filesystem::current_path(here);
  EXPECT_EQ(read, 0) << rig.m_strErr;
  EXPECT_NE(json.find("\"RELATIVE\""), std::string::npos) << json;
  EXPECT_EQ(doctor, 0);
  EXPECT_EQ(rig.m_strOut.rfind("jig\\4: a module answers", 0), 0u) << rig.m_strOut;
}

TEST(CliPorts, ListsTheSearchOrderWithEachDevice) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({kModule, kModule}));
  ASSERT_EQ(rig.Run({"ports"}), 0);
  EXPECT_EQ(rig.m_strOut, "COM3\t" + rig.Path(0) + "\nCOM4\t" + rig.Path(1) + "\n");
  ASSERT_EQ(rig.Run({"ports", "--format", "json"}), 0);
  EXPECT_EQ(nlohmann::json::parse(rig.m_strOut)["ports"][1],
            nlohmann::json({{"port", "COM4"}, {"device", rig.Path(1)}}));
  EXPECT_TRUE(rig.Untouched(0) && rig.Untouched(1)) << "listing opens no port";

  // A pty has no USB device behind it and no /dev/serial name: every detail is absent.
  ASSERT_EQ(rig.Run({"ports", "--long"}), 0);
  EXPECT_EQ(rig.m_strOut, "COM3\t" + rig.Path(0) + "\nCOM4\t" + rig.Path(1) + "\n");
  ASSERT_EQ(rig.Run({"ports", "--long", "--format", "json"}), 0);
  EXPECT_EQ(nlohmann::json::parse(rig.m_strOut)["ports"][0],
            nlohmann::json::parse(R"({"port": "COM3", "device": ")" + rig.Path(0) +
                                  R"(", "vendor_id": null, "product_id": null,
                                  "manufacturer": null, "product": null, "serial": null,
                                  "by_id": [], "by_path": []})"));
}

// A USB adapter as sysfs and udev show it, in a folder of its own: the details come from the
// USB device above the tty (not the hub above that), and the /dev/serial links that lead to it.
TEST(CliPorts, UsbDetailsComeFromSysfsAndTheSerialLinks) {
  namespace fs = std::filesystem;
  CCliRig rig;
  const fs::path root = rig.Dir() + "/tree";
  const fs::path usb = root / "sys/devices/pci0/usb1/1-2";
  fs::create_directories(usb / "1-2:1.0/ttyUSB0");
  fs::create_directories(root / "sys/devices/platform/serial8250");
  fs::create_directories(root / "sys/class/tty/ttyUSB0");
  fs::create_directories(root / "sys/class/tty/ttyS0");
  fs::create_directories(root / "dev/serial/by-id");
  fs::create_directories(root / "dev/serial/by-path");
  const std::map<std::string, std::string> files = {{"idVendor", "0403"},
                                                    {"idProduct", "6001"},
                                                    {"manufacturer", "FTDI"},
                                                    {"product", "FT232R \x1b[2J UART"},
                                                    {"serial", "A50285BI"}};
  for (const auto& file : files) std::ofstream(usb / file.first) << file.second << "\n";
  std::ofstream(usb.parent_path() / "idVendor") << "1d6b\n";  // the root hub
  fs::create_directory_symlink("../../../devices/pci0/usb1/1-2/1-2:1.0/ttyUSB0",
                               root / "sys/class/tty/ttyUSB0/device");
  fs::create_directory_symlink("../../../devices/platform/serial8250",
                               root / "sys/class/tty/ttyS0/device");
  std::ofstream(root / "dev/ttyUSB0");
  std::ofstream(root / "dev/ttyS0");
  const fs::path byId = root / "dev/serial/by-id/usb-FTDI_FT232R_UART_A50285BI-if00-port0";
  fs::create_symlink("../../ttyUSB0", byId);
  fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0");

  // Asked by its by-id name, as a user may give --port.
  const CPortDetails details = DescribeDevice(byId.string(), (root / "sys/class/tty").string(),
                                              (root / "dev/serial").string());
  std::ostringstream text;
  PrintPortDetails(text, details, "  ");
  EXPECT_EQ(text.str(),
            "  USB id:       0403:6001\n"
            "  manufacturer: FTDI\n"
            "  product:      FT232R \\x1B[2J UART\n"
            "  serial:       A50285BI\n"
            "  by-id:        " +
                byId.string() +
                "\n"
                "  by-path:      " +
                (root / "dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0").string() + "\n");
  CJson json;
  AddPortDetailsJson(json, details);
  EXPECT_EQ(json["vendor_id"], "0403");
  EXPECT_EQ(json["serial"], "A50285BI");
  EXPECT_EQ(json["by_id"], CJson::array({byId.string()}));

  // A built-in UART: no USB device above it, no link to it.
  const CPortDetails uart =
      DescribeDevice((root / "dev/ttyS0").string(), (root / "sys/class/tty").string(),
                     (root / "dev/serial").string());
  std::ostringstream none;
  PrintPortDetails(none, uart, "  ");
  EXPECT_EQ(none.str(), "");
  fs::remove_all(root);
}

// A profile saved from one module programs another to the same settings, its own address
// kept; a profile that breaks a rule is refused by field, with nothing sent.
TEST(CliProfiles, SavedFromOneModuleProgrammedIntoAnotherAndBadOnesRefused) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({With(kModule, {"--name", "LINE-7", "--role", "master"}),
                         {"--address", "00:00:00:00:00:02"}}));
  const std::string profile = rig.File("line7.json");
  ASSERT_EQ(rig.Run({"read", "--port", "COM3", "--save", profile}), 0) << rig.m_strErr;
  ASSERT_EQ(rig.Run({"program", "--port", "COM4", "--from", profile, "--pin", "4321"}), 0)
      << rig.m_strErr;
  const auto state = rig.State(1);
  EXPECT_EQ(state.at("name"), "LINE-7");
  EXPECT_EQ(state.at("pin"), "4321") << "an option overrides the profile";
  EXPECT_EQ(state.at("role"), "master");
  EXPECT_EQ(state.at("peer"), "00:12:6F:34:56:78");
  EXPECT_EQ(state.at("address"), "00:00:00:00:00:02");

  const std::string bad = rig.File("bad.json");
  std::ofstream(bad) << R"({"name": "OK", "pin": "123456789"})";
  const std::string before = rig.State(1).at("commands");
  EXPECT_EQ(rig.Run({"program", "--port", "COM4", "--from", bad}), 64);
  EXPECT_NE(rig.m_strErr.find("\"pin\""), std::string::npos) << rig.m_strErr;
  std::ofstream(bad) << "not json";
  EXPECT_EQ(rig.Run({"program", "--port", "COM4", "--from", bad}), 64);
  // Nesting deep enough to exhaust a recursive parser's stack is one refusal like any other.
  std::ofstream(bad) << R"({"name": )" << std::string(32000, '[') << std::string(32000, ']') << "}";
  EXPECT_EQ(rig.Run({"program", "--port", "COM4", "--from", bad}), 64);
  EXPECT_EQ(rig.m_strErr, "corvane: --from: " + bad + ": \"name\" is not a text\n");
  EXPECT_EQ(rig.State(1).at("commands"), before) << "nothing sent for a bad profile";
}

// What read --save and read --format json write is a profile, whatever the outcome; a field
// they never write, or one given twice, is refused by name, before any value is taken.
TEST(CliProfiles, OnlyTheFieldsReadWritesAreAProfileAndEachOnce) {
  CModuleSettings held;
  held.m_address = CModuleAddress::Parse("00:1A:7D:DA:71:13");
  held.m_strName = "LINE-7";
  held.m_strPin = "1234";
  CModuleReport ok, failed;
  ok.m_read = held;
  ok.m_address = held.m_address;
  failed.m_outcome = EOutcome::NoModule;
  failed.m_strMessage = "no module";
  for (const std::string& text : {ProfileText(held), DumpJson(ReportJson("COM3", ok, false, false)),
                                  DumpJson(ReportJson("COM3", failed, false, false))}) {
    CSettingChanges values;
    std::string error;
    EXPECT_TRUE(ParseProfile(text, &values, &error)) << text << ": " << error;
  }
  const std::pair<std::string, std::string> refused[] = {
      {R"({"name": "A", "pin": "1", "name": "B"})", "the field \"name\" is repeated"},
      {R"({"nmae": "A"})", "unknown field \"nmae\""},
      {R"({"number": 7})", "unknown field \"number\""},
      {R"({"\u001b[2J": "A"})", "unknown field \"\\x1B[2J\""},
      {R"({"pin": ["1234"]})", "\"pin\" is not a text"},
      {std::string(32000, '['), "not a profile"},
      {R"({"name": "A"} {})", "bad JSON at byte 15"},
  };
  for (const auto& profile : refused) {
    CSettingChanges values;
    std::string error;
    EXPECT_FALSE(ParseProfile(profile.first, &values, &error));
    EXPECT_NE(error.find(profile.second), std::string::npos) << error;
    EXPECT_FALSE(values.m_name) << "no value taken from a refused profile";
  }
}

// A dry run reads the module and shows the change, and sends no setting command.
TEST(CliProgram, DryRunShowsTheChangeAndSendsNoSetting) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({kModule}));
  ASSERT_EQ(rig.Run({"program", "--port", "COM3", "--name", "NEW", "--dry-run"}), 0)
      << rig.m_strErr;
  EXPECT_NE(rig.m_strOut.find("name: CORVANE-BT -> NEW"), std::string::npos) << rig.m_strOut;
  EXPECT_NE(rig.m_strOut.find("pin: 1234 (unchanged)"), std::string::npos) << rig.m_strOut;
  EXPECT_EQ(Commands(rig.Transcript(0)), "OGLAHT") << "a Read and nothing more";
  EXPECT_EQ(rig.State(0).at("name"), "CORVANE-BT");
}

// The real program, interrupted with SIGINT while it programs: it stops at the next exchange,
// says what the module had acknowledged, exits 130 and leaves the port free for the next user.
TEST(CliInterrupt, SigintMidProgramClosesThePortAndExits130) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({kModule}));
  int errPipe[2];
  ASSERT_EQ(pipe(errPipe), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(errPipe[1], STDERR_FILENO);
    execl(CORVANE_PATH, "corvane", "program", "--port", rig.Path(0).c_str(), "--name", "HALF",
          "--pin", "5555", "--role", "master", "--peer", "010203040506", "--quiet",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(errPipe[1]);
  // Wait until the PIN has been written, then interrupt.
  for (int k = 0; k < 200 && rig.State(0).at("pin") != "5555"; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(rig.State(0).at("pin"), "5555");
  const auto sent = std::chrono::steady_clock::now();
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  const auto took = std::chrono::steady_clock::now() - sent;
  std::string err;
  char buffer[512];
  for (ssize_t n; (n = read(errPipe[0], buffer, sizeof buffer)) > 0;) err.append(buffer, n);
  close(errPipe[0]);

  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_LT(took, std::chrono::milliseconds(1500)) << "at most one read time-out";
  EXPECT_NE(err.find("interrupted"), std::string::npos) << err;
  EXPECT_NE(err.find("acknowledged: name, pin"), std::string::npos) << err;
  // Nothing was sent after the interruption: the role and peer stayed.
  EXPECT_EQ(rig.State(0).at("role"), "slave");
  EXPECT_EQ(rig.State(0).at("peer"), "00:12:6F:34:56:78");
  // The port is neither open nor locked: the next program can read the module at once.
  EXPECT_EQ(rig.Run({"read", "--port", rig.Path(0), "--format", "json"}), 0) << rig.m_strErr;
}

}  // namespace

namespace {

// Two modules made a pair: each knows the other's address, the master calls, one PIN on both;
// a slave that falls silent leaves a half-made pair that is said so.
TEST(CliPair, TwoModulesCallEachOtherWithOnePinAndAHalfMadePairIsSaid) {
  CCliRig rig;
  ASSERT_TRUE(rig.Start({{"--address", "00:00:00:00:00:0A", "--pin", "1111"},
                         {"--address", "00:00:00:00:00:0B", "--pin", "2222", "--role", "master"},
                         {"--address", "00:00:00:00:00:0C", "--stop-after", "7"}}));
  // The dry run first: both read, each change old -> new as program --dry-run shows it.
  ASSERT_EQ(rig.Run({"pair", "--master", "COM3", "--slave", "COM4", "--dry-run"}), 0)
      << rig.m_strErr;
  EXPECT_NE(rig.m_strOut.find("master COM3 (00:00:00:00:00:0A): dry run\n"
                              "  name: CORVANE-BT (unchanged)\n"
                              "  pin: 1111 (unchanged)\n"
                              "  role: slave -> master\n"
                              "  peer: 00:12:6F:34:56:78 -> 00:00:00:00:00:0B\n"
                              "slave COM4 (00:00:00:00:00:0B): dry run\n"
                              "  name: CORVANE-BT (unchanged)\n"
                              "  pin: 2222 -> 1111\n"),
            std::string::npos)
      << rig.m_strOut;
  EXPECT_EQ(Commands(rig.Transcript(0)) + Commands(rig.Transcript(1)), "OGLAHTOGLAHT")
      << "a Read of each and nothing more";
  ASSERT_EQ(rig.Run({"pair", "--master", "COM3", "--slave", "COM4", "--slave-name", "TAIL",
                     "--format", "json"}),
            0)
      << rig.m_strErr;
  const auto master = rig.State(0), slave = rig.State(1);
  EXPECT_EQ(master.at("role"), "master");
  EXPECT_EQ(master.at("peer"), "00:00:00:00:00:0B");
  EXPECT_EQ(slave.at("role"), "slave");
  EXPECT_EQ(slave.at("peer"), "00:00:00:00:00:0A");
  EXPECT_EQ(slave.at("pin"), "1111") << "the master's PIN on both";
  EXPECT_EQ(slave.at("name"), "TAIL");
  const auto json = nlohmann::json::parse(rig.m_strOut);
  EXPECT_EQ(json["master"]["result"], "ok");
  EXPECT_EQ(json["slave"]["peer"], "00:00:00:00:00:0A");

  // The third module answers the Read, then nothing more.
  EXPECT_EQ(rig.Run({"pair", "--master", "COM3", "--slave", "COM5", "--pin", "7777"}), 2);
  EXPECT_NE(rig.m_strErr.find("half made"), std::string::npos) << rig.m_strErr;
  EXPECT_EQ(rig.State(0).at("pin"), "7777");
  EXPECT_EQ(rig.Run({"pair", "--master", "COM3", "--slave", "COM3"}), 64);
}

}  // namespace
