#include "cli/PairCommand.h"

#include <functional>
#include <optional>
#include <system_error>
#include <thread>

#include "engine/os/Platform.h"
#include "engine/session/ModuleSession.h"
#include "cli/OperatorConsole.h"
#include "engine/pair/PairRecord.h"
#include "engine/report/Output.h"
#include "engine/report/Report.h"
#include "serial/ComPortName.h"

namespace {

// One side of the pair: its port, session and what happened to it.
struct CSide {
  const char* m_pszRole;  // "master" or "slave"
  CPortChoice m_port;
  CModuleSession* m_pSession;  // one of the pair's; with one port, the master's and slave's
  CModuleReport m_report;
  CModuleSettings m_target;
  bool m_bTried = false;  // a Program was started
};

// Runs both jobs at once, one on a thread of its own; the second runs here.
void BothAtOnce(const std::function<void()>& first, const std::function<void()>& second) {
  std::thread thread;
  try {
    thread = StartWorkerThread(first);
  } catch (const std::system_error&) {
    first();  // no thread to be had: one after the other
  }
  second();
  if (thread.joinable()) thread.join();
}

// The device a port option reaches (see DeviceIdentity), found without opening it.
std::string DeviceOfOption(const std::string& value, CRunEnv& env) {
  int number = 0;
  std::string path = value;
  char target[512] = "";
  if (ParseExactComPortName(value.c_str(), &number) && env.m_fnPathApi &&
      env.m_api.QueryDosDeviceA(value.c_str(), target, sizeof target)) {
    path = target;
  }
  return DeviceIdentity(path);
}

bool Given(const CLI::Option* option) {
  return option != nullptr && option->count() > 0;
}

CAddress OwnAddress(const CModuleReport& report) {
  return report.m_address->Raw();
}

// The exit code of one side's run, as read and program give it.
int SideCode(const CModuleReport& report) {
  return OutcomeExitCode(report.m_outcome);
}

class CPair {
 public:
  CPair(const CPairOptions& options, CRunEnv& env) : m_options(options), m_env(env) {}
  int Run();
  int RunOnePort();

 private:
  int Refuse(int code, const std::string& text) {
    m_env.m_err << "corvane: " << text << "\n";
    return code;
  }
  // A side whose Read failed, and for a port it could not open, the doctor to run.
  void SayNotRead(const CSide& side);
  // Both read; false when either failed, with the code in *code.
  bool ReadBoth(int* code);
  CModuleSession* NewSession(const CPortChoice& port) {
    m_sessions.push_back(std::make_unique<CModuleSession>(*port.m_pApi, m_env.m_interrupt));
    m_sessions.back()->ListOnly(port.m_strListed);
    m_sessions.back()->SetPace(m_options.m_pace);
    // Modules are swapped by hand here: each acknowledgement must be known to be the right
    // module's.
    m_sessions.back()->CheckEverySetting();
    return m_sessions.back().get();
  }
  // The two modules' addresses are one: said on err, true.
  bool SameModule();
  void PlanTargets();
  // side's values for a pair with this PIN and this peer.
  void PlanSide(CSide& side, const std::string& pin, const CAddress& peer);
  // One port, the module read first: the slave of a pair this command left half made, whose
  // master is returned; nothing when it is to be taken for the master.
  std::optional<CModuleAddress> HalfMadeMaster(const CPairRecordFile& record) const;
  // One port: completes the half-made pair whose slave is on the port.
  int CompleteHalfMade(COperatorConsole& console, const CPairRecordFile& record,
                       const CModuleAddress& master);
  int Print(bool programmed);
  // One port: asks the operator to put side's module on and reads it, again until the module
  // read is the one wanted (wrong gives what is amiss with an address, or empty). False when
  // the operator ended it (*answer says how).
  bool AskAndRead(COperatorConsole& console, CSide& side, const std::string& ask,
                  const std::function<std::string(const std::string&)>& wrong,
                  COperatorConsole::EAnswer* answer);
  // One port: the master programmed, the note of a half-made pair gone once it is complete.
  int ProgramMaster(COperatorConsole& console, const CPairRecordFile& record);
  // One port: the operator ended the run at a prompt; what was done is said.
  int Ended(COperatorConsole::EAnswer answer);
  void Program(CSide& side) {
    side.m_bTried = true;
    side.m_report.m_outcome = EOutcome::Ok;
    side.m_pSession->Program(side.m_target, false, m_options.m_bVerify, side.m_report);
  }

  const CPairOptions& m_options;
  CRunEnv& m_env;
  CSide m_master{"master", {}, nullptr, {}, {}};
  CSide m_slave{"slave", {}, nullptr, {}, {}};
  std::vector<std::unique_ptr<CModuleSession>> m_sessions;
};

void CPair::SayNotRead(const CSide& side) {
  const std::string port = Printable(side.m_port.m_strShown);
  const EOutcome outcome = side.m_report.m_outcome;
  m_env.m_err << "corvane: the " << side.m_pszRole << " on " << port << ": "
              << OutcomeText(outcome);
  if (outcome == EOutcome::Busy || outcome == EOutcome::NoPermission) {
    m_env.m_err << "; run `corvane doctor --port " << port << "`";
  }
  m_env.m_err << "\n";
}

bool CPair::ReadBoth(int* code) {
  for (CSide* side : {&m_master, &m_slave}) {
    const std::string& port = side == &m_master ? m_options.m_strMaster : m_options.m_strSlave;
    side->m_port = ChoosePort(port, m_env);
    side->m_pSession = NewSession(side->m_port);
  }
  BothAtOnce([this] { m_master.m_pSession->Read(false, m_master.m_report); },
             [this] { m_slave.m_pSession->Read(false, m_slave.m_report); });
  *code = kExitOk;
  for (CSide* side : {&m_master, &m_slave}) {
    if (side->m_report.m_outcome == EOutcome::Ok) continue;
    SayNotRead(*side);
    if (*code == kExitOk) *code = SideCode(side->m_report);
  }
  return *code == kExitOk;
}

void CPair::PlanTargets() {
  const std::string pin =
      Given(m_options.m_pPin) ? m_options.m_strPin : m_master.m_report.m_read->m_strPin;
  PlanSide(m_master, pin, OwnAddress(m_slave.m_report));
  PlanSide(m_slave, pin, OwnAddress(m_master.m_report));
}

void CPair::PlanSide(CSide& side, const std::string& pin, const CAddress& peer) {
  const bool master = &side == &m_master;
  side.m_target = *side.m_report.m_read;
  side.m_target.m_bMaster = master;
  side.m_target.m_peer = peer;
  side.m_target.m_strPin = pin;
  const CLI::Option* name = master ? m_options.m_pMasterName : m_options.m_pSlaveName;
  if (Given(name)) side.m_target.m_strName = name->as<std::string>();
}

bool CPair::SameModule() {
  if (*m_master.m_report.m_address != *m_slave.m_report.m_address) return false;
  Refuse(kExitUsage, "the master and the slave are one module (address " +
                         m_master.m_report.m_address->Text() + "): two ports reach it");
  return true;
}

int CPair::Run() {
  int code = kExitOk;
  if (!ReadBoth(&code)) return code;
  if (SameModule()) return kExitUsage;
  PlanTargets();
  if (m_options.m_bDryRun) return Print(false);
  BothAtOnce([this] { Program(m_master); }, [this] { Program(m_slave); });
  return Print(true);
}

bool CPair::AskAndRead(COperatorConsole& console, CSide& side, const std::string& ask,
                       const std::function<std::string(const std::string&)>& wrong,
                       COperatorConsole::EAnswer* answer) {
  std::string prompt = ask;
  for (;;) {
    console.Ask(prompt + " and press Enter (Ctrl-C ends): ");
    *answer = console.WaitEnter(m_env.m_interrupt);
    if (*answer != COperatorConsole::EAnswer::Enter) return false;
    side.m_report = CModuleReport();
    if (!side.m_pSession->Read(false, side.m_report)) {
      if (m_env.m_interrupt.IsSet()) {
        *answer = COperatorConsole::EAnswer::Interrupted;
        return false;
      }
      prompt = std::string("Nothing read (") + OutcomeText(side.m_report.m_outcome) + "). " + ask;
      continue;
    }
    const std::string amiss = wrong(side.m_report.m_address->Text());
    if (amiss.empty()) return true;
    prompt = amiss + " " + ask;
  }
}

int CPair::RunOnePort() {
  COperatorConsole console;
  std::string why;
  if (!console.Open(&why)) {
    return Refuse(kExitUsage, "pair --port asks at the terminal for each module, but " + why +
                                  "; run it at a terminal, or pair on two ports with --master "
                                  "and --slave");
  }
  m_master.m_port = ChoosePort(m_options.m_strPort, m_env);
  const std::string port = Printable(m_master.m_port.m_strShown);
  m_master.m_pSession = NewSession(m_master.m_port);
  m_slave.m_pSession = m_master.m_pSession;
  m_slave.m_port.m_strShown = m_master.m_port.m_strShown;

  // The master is the module on the port at the start, unless it is the slave of a pair this
  // command left half made.
  if (!m_master.m_pSession->Read(false, m_master.m_report)) {
    SayNotRead(m_master);
    return SideCode(m_master.m_report);
  }
  const CPairRecordFile record(CPairRecordFile::DefaultFolder(), m_master.m_port.m_strShown);
  const std::optional<CModuleAddress> halfMade = HalfMadeMaster(record);
  if (halfMade) return CompleteHalfMade(console, record, *halfMade);
  const std::string master = m_master.m_report.m_address->Text();
  const std::string masterShown = master;
  console.Say("The master on " + port + " is " + masterShown + ".\n");
  COperatorConsole::EAnswer answer;
  const auto notMaster = [&](const std::string& address) {
    return address == master ? "That is the master (" + masterShown + ") again." : std::string();
  };
  if (!AskAndRead(console, m_slave, "Take the master off, put the slave on " + port, notMaster,
                  &answer)) {
    return Ended(answer);
  }
  PlanTargets();
  if (m_options.m_bDryRun) return Print(false);
  console.Say("Programming the slave " + m_slave.m_report.m_address->Text() + "...\n");
  Program(m_slave);
  if (m_slave.m_report.m_outcome != EOutcome::Ok) return Print(true);
  // Until the master is done too, a rerun must know the slave for what it is.
  std::string unsaved;
  if (!record.Save({*m_master.m_report.m_address, *m_slave.m_report.m_address}, &unsaved)) {
    console.Say("(The half-made pair could not be noted: " + unsaved + ".)\n");
  }

  const auto isMaster = [&](const std::string& address) {
    return address == master ? std::string()
                             : "That is " + address + ", not the master " + masterShown + ".";
  };
  const CModuleReport masterRead = m_master.m_report;
  if (!AskAndRead(console, m_master,
                  "The slave is programmed. Put the master " + masterShown + " back on " + port,
                  isMaster, &answer)) {
    m_master.m_report = masterRead;
    return Ended(answer);
  }
  return ProgramMaster(console, record);
}

int CPair::ProgramMaster(COperatorConsole& console, const CPairRecordFile& record) {
  console.Say("Programming the master...\n");
  Program(m_master);
  if (m_master.m_report.m_outcome == EOutcome::Ok) record.Remove();
  return Print(true);
}

std::optional<CModuleAddress> CPair::HalfMadeMaster(const CPairRecordFile& record) const {
  const CModuleReport& first = m_master.m_report;
  const std::optional<CPairRecord> noted = record.Load();
  if (noted && noted->m_slave == *first.m_address) return noted->m_master;
  // Without a note: a slave that holds the slave's name given is one only this command makes.
  const CModuleSettings& held = *first.m_read;
  if (Given(m_options.m_pSlaveName) && !held.m_bMaster &&
      held.m_strName == m_options.m_strSlaveName &&
      CModuleAddress(held.m_peer) != *first.m_address) {
    return CModuleAddress(held.m_peer);
  }
  return std::nullopt;
}

int CPair::CompleteHalfMade(COperatorConsole& console, const CPairRecordFile& record,
                            const CModuleAddress& master) {
  m_slave.m_report = m_master.m_report;
  m_master.m_report = CModuleReport();
  const std::string port = Printable(m_master.m_port.m_strShown);
  const std::string slave = m_slave.m_report.m_address->Text();
  console.Say("The module on " + port + " is " + slave + ", the slave of a pair left half made; " +
              "its master is " + master.Text() + ".\n");
  // The pair's PIN is the one the slave was given: the master's, or --pin.
  const std::string pin =
      Given(m_options.m_pPin) ? m_options.m_strPin : m_slave.m_report.m_read->m_strPin;
  PlanSide(m_slave, pin, master.Raw());
  if (!m_options.m_bDryRun && !Differences(m_slave.m_target, *m_slave.m_report.m_read).empty()) {
    console.Say("Programming the slave " + slave + "...\n");
    Program(m_slave);
    if (m_slave.m_report.m_outcome != EOutcome::Ok) return Print(true);
  } else {
    m_slave.m_bTried = !m_options.m_bDryRun;  // it holds the pair's values already
  }
  COperatorConsole::EAnswer answer;
  const auto isMaster = [&](const std::string& address) {
    return address == master.Text()
               ? std::string()
               : "That is " + address + ", not the master " + master.Text() + ".";
  };
  if (!AskAndRead(console, m_master,
                  "Take the slave off, put the master " + master.Text() + " on " + port, isMaster,
                  &answer)) {
    return Ended(answer);
  }
  PlanSide(m_master, pin, m_slave.m_report.m_address->Raw());
  if (m_options.m_bDryRun) return Print(false);
  return ProgramMaster(console, record);
}

int CPair::Ended(COperatorConsole::EAnswer answer) {
  const char* how = answer == COperatorConsole::EAnswer::Interrupted
                        ? "interrupted"
                        : "ended: the terminal's input ended";
  if (!m_slave.m_bTried) {
    m_env.m_err << "corvane: " << how << "; nothing was programmed.\n";
    return kExitInterrupted;
  }
  m_master.m_report.m_outcome = EOutcome::Interrupted;
  Print(true);
  m_env.m_err << "corvane: " << how
              << " before the master was programmed; nothing more was sent.\n";
  return kExitInterrupted;
}

int CPair::Print(bool programmed) {
  const bool json = m_options.m_strFormat == "json";
  CJson out = CJson::object();
  int code = kExitOk;
  for (CSide* side : {&m_master, &m_slave}) {
    const std::string& port = side->m_port.m_strShown;
    const CModuleReport& report = side->m_report;
    if (code == kExitOk) code = SideCode(report);
    if (!programmed) {
      // A dry run: the change old -> new, as program --dry-run shows it.
      if (json) {
        out[side->m_pszRole] = DryRunJson(port, report, &side->m_target);
      } else {
        m_env.m_out << side->m_pszRole << " ";
        PrintDryRun(m_env.m_out, port, report, &side->m_target);
      }
      continue;
    }
    const bool untried = !side->m_bTried;
    if (json) {
      out[side->m_pszRole] = ReportJson(port, report, true, m_options.m_bVerify);
      if (untried) out[side->m_pszRole]["result"] = "not programmed";
      continue;
    }
    m_env.m_out << side->m_pszRole << " " << Printable(port) << " (" << KnownAddress(report)
                << "): " << (untried ? "not programmed" : OutcomeText(report.m_outcome));
    // Only what the module acknowledged is said to be in it.
    if (report.m_outcome == EOutcome::Ok && !untried) {
      m_env.m_out << "; name " << Printable(side->m_target.m_strName) << ", PIN "
                  << Printable(side->m_target.m_strPin) << ", peer "
                  << FormatAddress(side->m_target.m_peer);
    } else if (!untried) {
      m_env.m_out << "; acknowledged " << JoinSettings(ConfirmedSettings(report));
    }
    m_env.m_out << "\n";
  }
  if (json) m_env.m_out << DumpJson(out) << "\n";
  // Half made: one side holds something of the pair, the other not all of it.
  const bool masterOk = m_master.m_bTried && m_master.m_report.m_outcome == EOutcome::Ok;
  const bool slaveOk = m_slave.m_bTried && m_slave.m_report.m_outcome == EOutcome::Ok;
  const bool anyAcked = !m_master.m_report.m_acked.empty() || !m_slave.m_report.m_acked.empty();
  if (programmed && !(masterOk && slaveOk) && anyAcked) {
    m_env.m_err << "corvane: the pair is half made: the master acknowledged "
                << JoinSettings(m_master.m_report.m_acked) << ", the slave "
                << JoinSettings(m_slave.m_report.m_acked)
                << "; run the same command again to complete it\n";
  }
  return code;
}

}  // namespace

CLI::App* AddPairCommand(CLI::App& app, CPairOptions& options, bool pathsAllowed) {
  CLI::App* pair = app.add_subcommand(
      "pair", "Make two modules connect: the master calls the slave, both with one PIN");
  auto port = CLI::Validator(
      [pathsAllowed](std::string& value) { return CheckPortOption(value, pathsAllowed); }, "PORT");
  CLI::Option* master =
      pair->add_option("--master", options.m_strMaster, "The master's port")->check(port);
  CLI::Option* slave =
      pair->add_option("--slave", options.m_strSlave, "The slave's port")->check(port);
  pair->add_option("--port,-p", options.m_strPort,
                   "One port for both: the module on it is the master; the operator is asked at "
                   "the terminal to swap in the slave, then the master again")
      ->check(port)
      ->excludes(master)
      ->excludes(slave);
  options.m_pPin =
      pair->add_option("--pin", options.m_strPin, "PIN for both (default: the master's)")
          ->check(Rule(CheckPin, "TEXT"));
  options.m_pMasterName =
      pair->add_option("--master-name", options.m_strMasterName, "New name of the master")
          ->check(Rule(CheckName, "TEXT"));
  options.m_pSlaveName =
      pair->add_option("--slave-name", options.m_strSlaveName, "New name of the slave")
          ->check(Rule(CheckName, "TEXT"));
  pair->add_flag("--verify", options.m_bVerify, "Read both back and compare");
  pair->add_flag("--dry-run", options.m_bDryRun, "Read both and show the change; send no setting");
  AddPaceOption(pair, options.m_pace);
  AddFormatOption(pair, options.m_strFormat);
  return pair;
}

int RunPair(const CPairOptions& options, CRunEnv& env) {
  if (!options.m_strPort.empty()) {
    CPair pair(options, env);
    return pair.RunOnePort();
  }
  if (options.m_strMaster.empty() || options.m_strSlave.empty()) {
    env.m_err << "corvane: pair takes --master and --slave, or --port for one adapter\n";
    return kExitUsage;
  }
  const std::string device = DeviceOfOption(options.m_strMaster, env);
  if (options.m_strMaster == options.m_strSlave ||
      (!device.empty() && device == DeviceOfOption(options.m_strSlave, env))) {
    env.m_err << "corvane: --master and --slave name one port\n";
    return kExitUsage;
  }
  CPair pair(options, env);
  return pair.Run();
}
