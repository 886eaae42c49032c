#include "engine/pair/PairRun.h"

#include <system_error>
#include <thread>

#include "engine/os/Platform.h"
#include "engine/report/Output.h"
#include "engine/report/Report.h"

namespace {

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

CAddress OwnAddress(const CModuleReport& report) {
  return report.m_address->Raw();
}

// The exit code of one side's run, as read and program give it.
int SideCode(const CModuleReport& report) {
  return OutcomeExitCode(report.m_outcome);
}

}  // namespace

void CPairRun::SayNotRead(const CPairSide& side) {
  const std::string port = Printable(side.m_port.m_strShown);
  const EOutcome outcome = side.m_report.m_outcome;
  m_env.m_err << "corvane: the " << side.m_pszRole << " on " << port << ": "
              << OutcomeText(outcome);
  if (outcome == EOutcome::Busy || outcome == EOutcome::NoPermission) {
    m_env.m_err << "; run `corvane doctor --port " << port << "`";
  }
  m_env.m_err << "\n";
}

bool CPairRun::ReadBoth(int* code) {
  for (CPairSide* side : {&m_master, &m_slave}) {
    const std::string& port = side == &m_master ? m_options.m_strMaster : m_options.m_strSlave;
    side->m_port = ChoosePort(port, m_env);
    side->m_pSession = NewSession(side->m_port);
  }
  BothAtOnce([this] { m_master.m_pSession->Read(false, m_master.m_report); },
             [this] { m_slave.m_pSession->Read(false, m_slave.m_report); });
  *code = kExitOk;
  for (CPairSide* side : {&m_master, &m_slave}) {
    if (side->m_report.m_outcome == EOutcome::Ok) continue;
    SayNotRead(*side);
    if (*code == kExitOk) *code = SideCode(side->m_report);
  }
  return *code == kExitOk;
}

void CPairRun::PlanTargets() {
  const std::string pin =
      m_options.m_bPinGiven ? m_options.m_strPin : m_master.m_report.m_read->m_strPin;
  PlanSide(m_master, pin, OwnAddress(m_slave.m_report));
  PlanSide(m_slave, pin, OwnAddress(m_master.m_report));
}

void CPairRun::PlanSide(CPairSide& side, const std::string& pin, const CAddress& peer) {
  const bool master = &side == &m_master;
  side.m_target = *side.m_report.m_read;
  side.m_target.m_bMaster = master;
  side.m_target.m_peer = peer;
  side.m_target.m_strPin = pin;
  if (master ? m_options.m_bMasterNameGiven : m_options.m_bSlaveNameGiven) {
    side.m_target.m_strName = master ? m_options.m_strMasterName : m_options.m_strSlaveName;
  }
}

bool CPairRun::SameModule() {
  if (*m_master.m_report.m_address != *m_slave.m_report.m_address) return false;
  Refuse(kExitUsage, "the master and the slave are one module (address " +
                         m_master.m_report.m_address->Text() + "): two ports reach it");
  return true;
}

int CPairRun::Run() {
  int code = kExitOk;
  if (!ReadBoth(&code)) return code;
  if (SameModule()) return kExitUsage;
  PlanTargets();
  if (m_options.m_bDryRun) return m_presenter.Show(m_master, m_slave, false);
  BothAtOnce([this] { Program(m_master); }, [this] { Program(m_slave); });
  return m_presenter.Show(m_master, m_slave, true);
}

bool CPairRun::AskAndRead(CPairOperator& console, CPairSide& side, const std::string& ask,
                          const std::function<std::string(const std::string&)>& wrong,
                          CPairOperator::EAnswer* answer) {
  std::string prompt = ask;
  for (;;) {
    console.Ask(prompt + " and press Enter (Ctrl-C ends): ");
    *answer = console.WaitEnter(m_env.m_interrupt);
    if (*answer != CPairOperator::EAnswer::Enter) return false;
    side.m_report = CModuleReport();
    if (!side.m_pSession->Read(false, side.m_report)) {
      if (m_env.m_interrupt.IsSet()) {
        *answer = CPairOperator::EAnswer::Interrupted;
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

int CPairRun::RunOnePort(CPairOperator& console) {
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
  CPairOperator::EAnswer answer;
  const auto notMaster = [&](const std::string& address) {
    return address == master ? "That is the master (" + masterShown + ") again." : std::string();
  };
  if (!AskAndRead(console, m_slave, "Take the master off, put the slave on " + port, notMaster,
                  &answer)) {
    return Ended(answer);
  }
  PlanTargets();
  if (m_options.m_bDryRun) return m_presenter.Show(m_master, m_slave, false);
  console.Say("Programming the slave " + m_slave.m_report.m_address->Text() + "...\n");
  Program(m_slave);
  if (m_slave.m_report.m_outcome != EOutcome::Ok) return m_presenter.Show(m_master, m_slave, true);
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

int CPairRun::ProgramMaster(CPairOperator& console, const CPairRecordFile& record) {
  console.Say("Programming the master...\n");
  Program(m_master);
  if (m_master.m_report.m_outcome == EOutcome::Ok) record.Remove();
  return m_presenter.Show(m_master, m_slave, true);
}

std::optional<CModuleAddress> CPairRun::HalfMadeMaster(const CPairRecordFile& record) const {
  const CModuleReport& first = m_master.m_report;
  const std::optional<CPairRecord> noted = record.Load();
  if (noted && noted->m_slave == *first.m_address) return noted->m_master;
  // Without a note: a slave that holds the slave's name given is one only this command makes.
  const CModuleSettings& held = *first.m_read;
  if (m_options.m_bSlaveNameGiven && !held.m_bMaster &&
      held.m_strName == m_options.m_strSlaveName &&
      CModuleAddress(held.m_peer) != *first.m_address) {
    return CModuleAddress(held.m_peer);
  }
  return std::nullopt;
}

int CPairRun::CompleteHalfMade(CPairOperator& console, const CPairRecordFile& record,
                               const CModuleAddress& master) {
  m_slave.m_report = m_master.m_report;
  m_master.m_report = CModuleReport();
  const std::string port = Printable(m_master.m_port.m_strShown);
  const std::string slave = m_slave.m_report.m_address->Text();
  console.Say("The module on " + port + " is " + slave + ", the slave of a pair left half made; " +
              "its master is " + master.Text() + ".\n");
  // The pair's PIN is the one the slave was given: the master's, or --pin.
  const std::string pin =
      m_options.m_bPinGiven ? m_options.m_strPin : m_slave.m_report.m_read->m_strPin;
  PlanSide(m_slave, pin, master.Raw());
  if (!m_options.m_bDryRun && !Differences(m_slave.m_target, *m_slave.m_report.m_read).Empty()) {
    console.Say("Programming the slave " + slave + "...\n");
    Program(m_slave);
    if (m_slave.m_report.m_outcome != EOutcome::Ok)
      return m_presenter.Show(m_master, m_slave, true);
  } else {
    m_slave.m_bTried = !m_options.m_bDryRun;  // it holds the pair's values already
  }
  CPairOperator::EAnswer answer;
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
  if (m_options.m_bDryRun) return m_presenter.Show(m_master, m_slave, false);
  return ProgramMaster(console, record);
}

int CPairRun::Ended(CPairOperator::EAnswer answer) {
  const char* how = answer == CPairOperator::EAnswer::Interrupted
                        ? "interrupted"
                        : "ended: the terminal's input ended";
  if (!m_slave.m_bTried) {
    m_env.m_err << "corvane: " << how << "; nothing was programmed.\n";
    return kExitInterrupted;
  }
  m_master.m_report.m_outcome = EOutcome::Interrupted;
  m_presenter.Show(m_master, m_slave, true);
  m_env.m_err << "corvane: " << how
              << " before the master was programmed; nothing more was sent.\n";
  return kExitInterrupted;
}
