#include "cli/PairCommand.h"

#include "cli/OperatorConsole.h"
#include "engine/os/Platform.h"
#include "engine/pair/PairRun.h"
#include "engine/report/Output.h"
#include "engine/report/Report.h"
#include "serial/ComPortName.h"

namespace {

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

// Both sides as text (one line each) or one JSON object, and what is left half made.
class CPairPrinter final : public CPairPresenter {
 public:
  CPairPrinter(const CPairOptions& options, CRunEnv& env)
      : m_bJson(options.m_strFormat == "json"),
        m_bVerify(options.m_bVerify),
        m_out(env.m_out),
        m_err(env.m_err) {}

  int Show(const CPairSide& masterSide, const CPairSide& slaveSide, bool programmed) override {
    const bool json = m_bJson;
    CJson out = CJson::object();
    int code = kExitOk;
    for (const CPairSide* side : {&masterSide, &slaveSide}) {
      const std::string& port = side->m_port.m_strShown;
      const CModuleReport& report = side->m_report;
      if (code == kExitOk) code = OutcomeExitCode(report.m_outcome);
      if (!programmed) {
        // A dry run: the change old -> new, as program --dry-run shows it.
        if (json) {
          out[side->m_pszRole] = DryRunJson(port, report, &side->m_target);
        } else {
          m_out << side->m_pszRole << " ";
          PrintDryRun(m_out, port, report, &side->m_target);
        }
        continue;
      }
      const bool untried = !side->m_bTried;
      if (json) {
        out[side->m_pszRole] = ReportJson(port, report, true, m_bVerify);
        if (untried) out[side->m_pszRole]["result"] = "not programmed";
        continue;
      }
      m_out << side->m_pszRole << " " << Printable(port) << " (" << KnownAddress(report)
            << "): " << (untried ? "not programmed" : OutcomeText(report.m_outcome));
      // Only what the module acknowledged is said to be in it.
      if (report.m_outcome == EOutcome::Ok && !untried) {
        m_out << "; name " << Printable(side->m_target.m_strName) << ", PIN "
              << Printable(side->m_target.m_strPin) << ", peer "
              << FormatAddress(side->m_target.m_peer);
      } else if (!untried) {
        m_out << "; acknowledged " << JoinSettings(ConfirmedSettings(report));
      }
      m_out << "\n";
    }
    if (json) m_out << DumpJson(out) << "\n";
    // Half made: one side holds something of the pair, the other not all of it.
    const bool masterOk = masterSide.m_bTried && masterSide.m_report.m_outcome == EOutcome::Ok;
    const bool slaveOk = slaveSide.m_bTried && slaveSide.m_report.m_outcome == EOutcome::Ok;
    const bool anyAcked =
        !masterSide.m_report.m_acked.Empty() || !slaveSide.m_report.m_acked.Empty();
    if (programmed && !(masterOk && slaveOk) && anyAcked) {
      m_err << "corvane: the pair is half made: the master acknowledged "
            << JoinSettings(masterSide.m_report.m_acked) << ", the slave "
            << JoinSettings(slaveSide.m_report.m_acked)
            << "; run the same command again to complete it\n";
    }
    return code;
  }

 private:
  const bool m_bJson;
  const bool m_bVerify;
  std::ostream& m_out;
  std::ostream& m_err;
};

CPairSetup SetupOf(const CPairOptions& options) {
  CPairSetup setup;
  setup.m_strMaster = options.m_strMaster;
  setup.m_strSlave = options.m_strSlave;
  setup.m_strPort = options.m_strPort;
  setup.m_strPin = options.m_strPin;
  setup.m_strMasterName = options.m_strMasterName;
  setup.m_strSlaveName = options.m_strSlaveName;
  setup.m_bPinGiven = Given(options.m_pPin);
  setup.m_bMasterNameGiven = Given(options.m_pMasterName);
  setup.m_bSlaveNameGiven = Given(options.m_pSlaveName);
  setup.m_bVerify = options.m_bVerify;
  setup.m_bDryRun = options.m_bDryRun;
  setup.m_pace = options.m_pace;
  return setup;
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
  const CPairSetup setup = SetupOf(options);
  CPairPrinter printer(options, env);
  if (!options.m_strPort.empty()) {
    COperatorConsole console;
    std::string why;
    if (!console.Open(&why)) {
      env.m_err << "corvane: pair --port asks at the terminal for each module, but " << why
                << "; run it at a terminal, or pair on two ports with --master and --slave\n";
      return kExitUsage;
    }
    CPairRun pair(setup, env, printer);
    return pair.RunOnePort(console);
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
  CPairRun pair(setup, env, printer);
  return pair.Run();
}
