#include "cli/PairCommand.h"

#include <functional>
#include <system_error>
#include <thread>

#include "cli/CliPlatform.h"
#include "cli/ModuleSession.h"
#include "cli/Output.h"

namespace {

// One side of the pair: its port, session and what happened to it.
struct CSide {
  const char* m_pszRole;  // "master" or "slave"
  CPortChoice m_port;
  std::unique_ptr<CModuleSession> m_pSession;
  CModuleReport m_report;
  CModuleSettings m_target;
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

bool Given(const CLI::Option* option) {
  return option != nullptr && option->count() > 0;
}

CAddress OwnAddress(const CModuleReport& report) {
  CAddress address{};
  ParsePeer(AddressDigits(report.m_read->m_strAddress), &address);
  return address;
}

// The exit code of one side's run, as read and program give it.
int SideCode(const CModuleReport& report) {
  switch (report.m_outcome) {
    case EOutcome::Ok:
      return kExitOk;
    case EOutcome::NoModule:
    case EOutcome::Busy:
    case EOutcome::NoPermission:
      return kExitNoModule;
    case EOutcome::VerifyDiffers:
      return kExitVerifyDiffers;
    case EOutcome::Interrupted:
      return kExitInterrupted;
    default:
      return kExitCommError;
  }
}

class CPair {
 public:
  CPair(const CPairOptions& options, CCliEnv& env) : m_options(options), m_env(env) {}
  int Run();

 private:
  int Refuse(int code, const std::string& text) {
    m_env.m_err << "corvane: " << text << "\n";
    return code;
  }
  // Both read; false when either failed, with the code in *code.
  bool ReadBoth(int* code);
  void PlanTargets();
  int Print(bool programmed);

  const CPairOptions& m_options;
  CCliEnv& m_env;
  CSide m_master{"master", {}, nullptr, {}, {}};
  CSide m_slave{"slave", {}, nullptr, {}, {}};
};

bool CPair::ReadBoth(int* code) {
  for (CSide* side : {&m_master, &m_slave}) {
    const std::string& port = side == &m_master ? m_options.m_strMaster : m_options.m_strSlave;
    side->m_port = ChoosePort(port, m_env);
    side->m_pSession = std::make_unique<CModuleSession>(*side->m_port.m_pApi, m_env.m_interrupt);
    side->m_pSession->ListOnly(side->m_port.m_strListed);
    side->m_pSession->SetPace(PaceOf(m_options.m_strPace));
  }
  BothAtOnce([this] { m_master.m_pSession->Read(false, m_master.m_report); },
             [this] { m_slave.m_pSession->Read(false, m_slave.m_report); });
  *code = kExitOk;
  for (CSide* side : {&m_master, &m_slave}) {
    if (side->m_report.m_outcome == EOutcome::Ok) continue;
    m_env.m_err << "corvane: the " << side->m_pszRole << " on "
                << Printable(side->m_port.m_strShown) << ": "
                << OutcomeText(side->m_report.m_outcome) << "\n";
    if (*code == kExitOk) *code = SideCode(side->m_report);
  }
  return *code == kExitOk;
}

void CPair::PlanTargets() {
  const CModuleSettings& master = *m_master.m_report.m_read;
  const CModuleSettings& slave = *m_slave.m_report.m_read;
  const std::string pin = Given(m_options.m_pPin) ? m_options.m_strPin : master.m_strPin;
  m_master.m_target = master;
  m_master.m_target.m_bMaster = true;
  m_master.m_target.m_peer = OwnAddress(m_slave.m_report);
  m_master.m_target.m_strPin = pin;
  if (Given(m_options.m_pMasterName)) m_master.m_target.m_strName = m_options.m_strMasterName;
  m_slave.m_target = slave;
  m_slave.m_target.m_bMaster = false;
  m_slave.m_target.m_peer = OwnAddress(m_master.m_report);
  m_slave.m_target.m_strPin = pin;
  if (Given(m_options.m_pSlaveName)) m_slave.m_target.m_strName = m_options.m_strSlaveName;
}

int CPair::Run() {
  int code = kExitOk;
  if (!ReadBoth(&code)) return code;
  if (AddressDigits(m_master.m_report.m_read->m_strAddress) ==
      AddressDigits(m_slave.m_report.m_read->m_strAddress)) {
    return Refuse(kExitUsage, "the master and the slave are one module (address " +
                                  AddressWithColons(m_master.m_report.m_read->m_strAddress) +
                                  "): two ports reach it");
  }
  PlanTargets();
  if (m_options.m_bDryRun) return Print(false);
  for (CSide* side : {&m_master, &m_slave}) side->m_report.m_outcome = EOutcome::Ok;
  BothAtOnce(
      [this] {
        m_master.m_pSession->Program(m_master.m_target, false, m_options.m_bVerify,
                                     m_master.m_report);
      },
      [this] {
        m_slave.m_pSession->Program(m_slave.m_target, false, m_options.m_bVerify, m_slave.m_report);
      });
  return Print(true);
}

int CPair::Print(bool programmed) {
  const bool json = m_options.m_strFormat == "json";
  CJson out = CJson::object();
  int code = kExitOk;
  for (CSide* side : {&m_master, &m_slave}) {
    CModuleReport shown = side->m_report;
    if (!programmed) shown.m_written.reset();
    CJson one = ReportJson(side->m_port.m_strShown, shown, programmed, m_options.m_bVerify);
    if (!programmed) {
      one["will_write"] = SettingsJson("", "", CSettingChanges::Of(side->m_target));
      one["will_write"].erase("port");
      one["will_write"].erase("address");
    }
    if (json) {
      out[side->m_pszRole] = one;
    } else {
      m_env.m_out << side->m_pszRole << " " << Printable(side->m_port.m_strShown) << " ("
                  << AddressWithColons(side->m_report.m_read->m_strAddress)
                  << "): " << (programmed ? OutcomeText(side->m_report.m_outcome) : "dry run")
                  << "; name " << Printable(side->m_target.m_strName) << ", PIN "
                  << Printable(side->m_target.m_strPin) << ", peer "
                  << FormatAddress(side->m_target.m_peer) << "\n";
    }
    if (code == kExitOk) code = SideCode(side->m_report);
  }
  if (json) m_env.m_out << DumpJson(out) << "\n";
  const bool masterOk = m_master.m_report.m_outcome == EOutcome::Ok;
  const bool slaveOk = m_slave.m_report.m_outcome == EOutcome::Ok;
  if (programmed && masterOk != slaveOk) {
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
  pair->add_option("--master", options.m_strMaster, "The master's port")->required()->check(port);
  pair->add_option("--slave", options.m_strSlave, "The slave's port")->required()->check(port);
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
  AddPaceOption(pair, options.m_strPace);
  AddFormatOption(pair, options.m_strFormat);
  return pair;
}

int RunPair(const CPairOptions& options, CCliEnv& env) {
  if (options.m_strMaster == options.m_strSlave) {
    env.m_err << "corvane: --master and --slave name one port\n";
    return kExitUsage;
  }
  CPair pair(options, env);
  return pair.Run();
}
