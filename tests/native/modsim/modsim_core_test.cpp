// The simulated module's byte machine: what it answers, how it frames, how it misbehaves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/modsim/ModuleSim.h"
#include "tools/modsim/Options.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(char letter, const Bytes& payload = {}) {
  Bytes frame;
  frame.reserve(payload.size() + 4);
  frame.push_back(0xE4);
  frame.push_back(static_cast<uint8_t>(letter));
  frame.push_back(0xA1);
  for (uint8_t b : payload) frame.push_back(b);
  frame.push_back(0x0D);
  return frame;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

struct CFeedResult {
  int m_nUnits = 0;  // probes and frames completed (answered or not)
  Bytes m_out;
  std::vector<std::string> m_notes;
  bool m_bHangUp = false;
  int m_nDelayMs = 0;
};

// All bytes arrive at nowMs.
CFeedResult Feed(CModuleSim& sim, const Bytes& bytes, long long nowMs = 0) {
  CFeedResult result;
  for (uint8_t b : bytes) {
    CAnswer answer;
    if (!sim.OnByte(b, answer, nowMs)) continue;
    ++result.m_nUnits;
    result.m_out.insert(result.m_out.end(), answer.m_bytes.begin(), answer.m_bytes.end());
    result.m_notes.push_back(answer.m_strNote);
    result.m_bHangUp = result.m_bHangUp || answer.m_bHangUp;
    result.m_nDelayMs = answer.m_nDelayMs;
  }
  return result;
}

CModuleState Defaults() {
  return CModuleState();
}

TEST(ModsimCore, AnswersProbeAndEveryAcknowledgedCommandWithAck) {
  CModuleSim sim(Defaults(), CFaults(), 0x0A);
  EXPECT_EQ(Feed(sim, {0x20, 0x30}).m_out, Bytes({0x06}));
  for (char letter : std::string("OFMS")) {
    CFeedResult r = Feed(sim, Frame(letter));
    EXPECT_EQ(r.m_nUnits, 1) << letter;
    EXPECT_EQ(r.m_out, Bytes({0x06})) << letter;
  }
  EXPECT_EQ(Feed(sim, Frame('N', Text("X"))).m_out, Bytes({0x06}));
  EXPECT_EQ(Feed(sim, Frame('I', Text("0000"))).m_out, Bytes({0x06}));
  EXPECT_EQ(Feed(sim, Frame('E', {1, 2, 3, 4, 5, 6})).m_out, Bytes({0x06}));
  EXPECT_EQ(sim.State().m_nProbes, 1);
  EXPECT_EQ(sim.State().m_nCommands, 7);
  EXPECT_EQ(sim.State().m_nOpens, 1);
}

TEST(ModsimCore, QueriesReplyWithTagPayloadCrAndOneTrailer) {
  CModuleState state;
  state.m_strName = "BT-1";
  state.m_strPin = "9876";
  state.m_bMaster = true;
  CModuleSim sim(state, CFaults(), 0x0A);
  EXPECT_EQ(Feed(sim, Frame('G')).m_out,
            Bytes({0xF2, 0x00, 0x12, 0x6F, 0x34, 0x56, 0x78, 0x0D, 0x0A}));
  EXPECT_EQ(Feed(sim, Frame('L')).m_out,
            Bytes({0xF4, 0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13, 0x0D, 0x0A}));
  EXPECT_EQ(Feed(sim, Frame('A')).m_out, Bytes({0xF1, 'B', 'T', '-', '1', 0x0D, 0x0A}));
  EXPECT_EQ(Feed(sim, Frame('H')).m_out, Bytes({0xF3, '9', '8', '7', '6', 0x0D, 0x0A}));
  EXPECT_EQ(Feed(sim, Frame('T')).m_out, Bytes({0xF5, 'M', 0x0D, 0x0A}));
  CModuleSim other(Defaults(), CFaults(), 0x06);
  EXPECT_EQ(Feed(other, Frame('T')).m_out, Bytes({0xF5, 'S', 0x0D, 0x06}));
}

TEST(ModsimCore, SettingsAreStoredAndReadBack) {
  CModuleSim sim(Defaults(), CFaults(), 0x0A);
  Feed(sim, Frame('N', Text(" My Name ")));
  Feed(sim, Frame('I', Text("")));
  Feed(sim, Frame('M'));
  Feed(sim, Frame('E', {0x0D, 0x06, 0xE4, 0x0D, 0xA1, 0x20}));
  EXPECT_EQ(sim.State().m_strName, " My Name ");
  EXPECT_EQ(sim.State().m_strPin, "");
  EXPECT_TRUE(sim.State().m_bMaster);
  EXPECT_EQ(Feed(sim, Frame('G')).m_out,
            Bytes({0xF2, 0x0D, 0x06, 0xE4, 0x0D, 0xA1, 0x20, 0x0D, 0x0A}));
  EXPECT_EQ(Feed(sim, Frame('H')).m_out, Bytes({0xF3, 0x0D, 0x0A}));
  Feed(sim, Frame('S'));
  EXPECT_FALSE(sim.State().m_bMaster);
  EXPECT_TRUE(sim.State().m_bRadioOn);
  Feed(sim, Frame('F'));
  EXPECT_FALSE(sim.State().m_bRadioOn);
  EXPECT_EQ(sim.State().m_cLastCommand, 'F');
}

TEST(ModsimCore, FramesSplitAnywhereAndNoiseBetweenThemAreHandled) {
  CModuleSim sim(Defaults(), CFaults(), 0x0A);
  Bytes stream = {0x00, 0x55, 0x30};  // noise, including a lone '0'
  Bytes frame = Frame('O');
  stream.insert(stream.end(), frame.begin(), frame.end());
  stream.insert(stream.end(), {0x20, 0x20, 0x30});
  CFeedResult r = Feed(sim, stream);
  EXPECT_EQ(r.m_nUnits, 2);
  EXPECT_EQ(r.m_out, Bytes({0x06, 0x06}));
  // A probe inside a name is name text, not a probe.
  Feed(sim, Frame('N', Text(" 0")));
  EXPECT_EQ(sim.State().m_strName, " 0");
  EXPECT_EQ(sim.State().m_nProbes, 1);
}

TEST(ModsimCore, MalformedFramesAreCountedAndNotAnswered) {
  CModuleSim sim(Defaults(), CFaults(), 0x0A);
  const std::vector<Bytes> broken = {
      {0xE4, 0x4F, 0x0D},                             // no FRAME_MARK
      {0xE4, 0x61, 0xA1, 0x0D},                       // lower-case letter
      {0xE4, 0x4F, 0xA1, 0x31, 0x0D},                 // payload where none belongs
      {0xE4, 0x45, 0xA1, 1, 2, 3, 4, 5, 6, 7, 0x0D},  // seven address bytes
      Frame('N', Bytes(CModuleSim::MAX_TEXT + 1, 'x')),
  };
  for (const Bytes& frame : broken) {
    CFeedResult r = Feed(sim, frame);
    EXPECT_GE(r.m_nUnits, 1);
    EXPECT_TRUE(r.m_out.empty());
  }
  EXPECT_EQ(sim.State().m_nMalformed, 5);
  EXPECT_EQ(sim.State().m_nCommands, 0);
  EXPECT_EQ(sim.State().m_strName, "CORVANE-BT");
  // An unknown letter is a well-formed frame that gets no answer.
  CFeedResult r = Feed(sim, Frame('Z'));
  EXPECT_TRUE(r.m_out.empty());
  EXPECT_EQ(sim.State().m_nCommands, 1);
  // The machine is back in step afterwards.
  EXPECT_EQ(Feed(sim, Frame('O')).m_out, Bytes({0x06}));
}

TEST(ModsimCore, SilentNoOpenAndStopAfter) {
  CFaults silent;
  silent.m_bSilent = true;
  CModuleSim quiet(Defaults(), silent, 0x0A);
  CFeedResult r = Feed(quiet, {0x20, 0x30, 0xE4, 0x4F, 0xA1, 0x0D});
  EXPECT_EQ(r.m_nUnits, 2);
  EXPECT_TRUE(r.m_out.empty());
  EXPECT_EQ(quiet.State().m_nOpens, 1);

  CFaults noOpen;
  noOpen.m_bNoOpen = true;
  CModuleSim shy(Defaults(), noOpen, 0x0A);
  EXPECT_EQ(Feed(shy, {0x20, 0x30}).m_out, Bytes({0x06}));
  EXPECT_TRUE(Feed(shy, Frame('O')).m_out.empty());
  EXPECT_EQ(Feed(shy, Frame('T')).m_out.size(), 4u);

  CFaults stop;
  stop.m_nStopAfter = 2;
  CModuleSim tired(Defaults(), stop, 0x0A);
  EXPECT_EQ(Feed(tired, Frame('O')).m_out, Bytes({0x06}));
  EXPECT_EQ(Feed(tired, Frame('N', Text("A"))).m_out, Bytes({0x06}));
  EXPECT_TRUE(Feed(tired, Frame('I', Text("5555"))).m_out.empty());
  EXPECT_TRUE(Feed(tired, {0x20, 0x30}).m_out.empty());
  EXPECT_TRUE(Feed(tired, Frame('O')).m_out.empty());
  EXPECT_EQ(tired.State().m_strName, "A");
  EXPECT_EQ(tired.State().m_strPin, "1234");  // not taken once the module has stopped
}

TEST(ModsimCore, ReplyFaultsChangeTheBytesOnTheWire) {
  CFaults wrongAck;
  wrongAck.m_nWrongAck = 0x15;
  CModuleSim nak(Defaults(), wrongAck, 0x0A);
  EXPECT_EQ(Feed(nak, Frame('O')).m_out, Bytes({0x15}));
  EXPECT_EQ(Feed(nak, {0x20, 0x30}).m_out, Bytes({0x06}));  // the probe is spared

  CFaults wrongTag;
  wrongTag.m_nWrongTag = 0xF3;
  CModuleSim mixed(Defaults(), wrongTag, 0x0A);
  EXPECT_EQ(Feed(mixed, Frame('T')).m_out, Bytes({0xF3, 'S', 0x0D, 0x0A}));

  CFaults cut;
  cut.m_nCutAfter = 3;
  CModuleSim shortLine(Defaults(), cut, 0x0A);
  EXPECT_EQ(Feed(shortLine, Frame('L')).m_out, Bytes({0xF4, 0x00, 0x1A, 0x7D}));
  EXPECT_EQ(Feed(shortLine, Frame('T')).m_out, Bytes({0xF5, 'S'}));

  CFaults longLine;
  longLine.m_nOverlong = 16;
  CModuleSim chatty(Defaults(), longLine, 0x0A);
  Bytes reply = Feed(chatty, Frame('A')).m_out;
  ASSERT_EQ(reply.size(), 1u + 10u + 16u + 2u);
  EXPECT_EQ(reply[11], '0');
  EXPECT_EQ(reply[26], '5');
  EXPECT_EQ(reply[27], 0x0D);

  CFaults cr;
  cr.m_bCrInAddress = true;
  CModuleSim crs(Defaults(), cr, 0x0A);
  EXPECT_EQ(Feed(crs, Frame('L')).m_out,
            Bytes({0xF4, 0x00, 0x1A, 0x0D, 0xDA, 0x71, 0x13, 0x0D, 0x0A}));
  EXPECT_EQ(Feed(crs, Frame('A')).m_out.back(), 0x0A);  // names are left alone
  EXPECT_EQ(crs.State().m_abAddress[2], 0x7D);          // only the wire is touched

  CFaults extra;
  extra.m_nExtraAfterAck = 0x0D;
  extra.m_nDelayMs = 250;
  CModuleSim eager(Defaults(), extra, 0x0A);
  CFeedResult r = Feed(eager, Frame('S'));
  EXPECT_EQ(r.m_out, Bytes({0x06, 0x0D}));
  EXPECT_EQ(r.m_nDelayMs, 250);
}

TEST(ModsimCore, OnlyAndTimesAimTheFaults) {
  CFaults f;
  f.m_nWrongAck = 0x00;
  f.m_strOnly = "N0";
  f.m_nTimes = 2;
  CModuleSim sim(Defaults(), f, 0x0A);
  EXPECT_EQ(Feed(sim, Frame('O')).m_out, Bytes({0x06}));
  EXPECT_EQ(Feed(sim, {0x20, 0x30}).m_out, Bytes({0x00}));
  EXPECT_EQ(Feed(sim, Frame('N', Text("a"))).m_out, Bytes({0x00}));
  EXPECT_EQ(Feed(sim, Frame('N', Text("b"))).m_out, Bytes({0x06}));
  EXPECT_EQ(Feed(sim, {0x20, 0x30}).m_out, Bytes({0x06}));
}

TEST(ModsimCore, SettlingModuleIgnoresCommandsRightAfterASetting) {
  CFaults f;
  f.m_nSettleMs = 300;
  f.m_nDelayMs = 50;
  CModuleSim sim(Defaults(), f, 0x0A);
  EXPECT_EQ(Feed(sim, Frame('O'), 0).m_out, Bytes({0x06}));
  // Queries and the handshake leave it ready at once.
  EXPECT_EQ(Feed(sim, Frame('T'), 10).m_out.front(), 0xF5);
  EXPECT_EQ(Feed(sim, Frame('N', Text("new")), 20).m_out, Bytes({0x06}));
  // Answered at 70 ms (the delay), busy storing until 370 ms.
  CFeedResult busy = Feed(sim, Frame('I', Text("9999")), 369);
  EXPECT_TRUE(busy.m_out.empty());
  EXPECT_EQ(busy.m_notes, std::vector<std::string>{"ignored I CMD_SET_PIN (settling)"});
  EXPECT_TRUE(Feed(sim, Frame('G'), 200).m_out.empty());
  EXPECT_EQ(Feed(sim, {0x20, 0x30}, 210).m_out, Bytes({0x06}));  // the probe is answered
  EXPECT_EQ(Feed(sim, Frame('I', Text("9999")), 370).m_out, Bytes({0x06}));
  EXPECT_EQ(sim.State().m_strPin, "9999");
  EXPECT_EQ(sim.State().m_nIgnored, 2);
  EXPECT_EQ(sim.State().m_nCommands, 4);
  EXPECT_NE(FormatState(sim.State()).find("ignored=2\n"), std::string::npos);
}

TEST(ModsimCore, VanishAfterHangsUpWithTheAnswerToCommandN) {
  CFaults f;
  f.m_nVanishAfter = 2;
  CModuleSim sim(Defaults(), f, 0x0A);
  EXPECT_FALSE(Feed(sim, {0x20, 0x30}).m_bHangUp);
  EXPECT_FALSE(Feed(sim, Frame('O')).m_bHangUp);
  CFeedResult r = Feed(sim, Frame('G'));
  EXPECT_TRUE(r.m_bHangUp);
  EXPECT_EQ(r.m_out.front(), 0xF2);
}

TEST(ModsimCore, AddressesAndStateText) {
  uint8_t address[6];
  EXPECT_TRUE(ParseAddress("00:1a:7D:da:71:13", address));
  EXPECT_EQ(FormatAddress(address), "00:1A:7D:DA:71:13");
  EXPECT_TRUE(ParseAddress("0102030D0506", address));
  EXPECT_EQ(address[3], 0x0D);
  EXPECT_FALSE(ParseAddress("01:02:03:04:05", address));
  EXPECT_FALSE(ParseAddress("01:02:03:04:05:0G", address));
  EXPECT_FALSE(ParseAddress("01:02:03:04:05:06:07", address));

  CModuleState state;
  state.m_strName = "a\\b\r\xE4";
  std::string text = FormatState(state);
  EXPECT_NE(text.find("name=a\\x5Cb\\x0D\\xE4\n"), std::string::npos);
  EXPECT_NE(text.find("role=slave\n"), std::string::npos);
  EXPECT_NE(text.find("peer=00:12:6F:34:56:78\n"), std::string::npos);
  EXPECT_NE(text.find("radio=on\n"), std::string::npos);
}

}  // namespace

// Each kind of option row: a text, a setting, a number in its base and range, a flag; and
// what stops a run before it starts.
TEST(ModsimOptions, RowsSetTheirFieldOrRefuse) {
  struct {
    std::vector<const char*> args;
    EParsed want;
    bool (*holds)(const COptions&);
  } cases[] = {
      {{"--tty", "t", "--role", "master"},
       EParsed::Run,
       [](const COptions& o) { return o.m_strTty == "t" && o.m_state.m_bMaster; }},
      {{"--wrong-ack", "1f", "--swap-gap", "0"},
       EParsed::Run,
       [](const COptions& o) { return o.m_faults.m_nWrongAck == 0x1F && o.m_nSwapGapMs == 0; }},
      {{"--cr-in-address", "--only", "N"},
       EParsed::Run,
       [](const COptions& o) { return o.m_faults.m_bCrInAddress && o.m_faults.m_strOnly == "N"; }},
      {{"--vanish-after", "0"}, EParsed::Bad, nullptr},
      {{"--absent", "stray"}, EParsed::Bad, nullptr},
      {{"--delay"}, EParsed::Bad, nullptr},
      {{"--version", "--frob"}, EParsed::Version, nullptr},
  };
  for (const auto& c : cases) {
    std::vector<char*> argv = {const_cast<char*>("/usr/bin/corvane-modsim")};
    for (const char* arg : c.args) argv.push_back(const_cast<char*>(arg));
    argv.push_back(nullptr);
    COptions options;
    EXPECT_EQ(ParseOptions(static_cast<int>(argv.size() - 1), argv.data(), options), c.want)
        << c.args.front();
    if (c.holds != nullptr) {
      EXPECT_TRUE(c.holds(options)) << c.args.front();
    }
  }
}
