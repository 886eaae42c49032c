// A pair made: two modules that connect to each other. The master calls the slave by its
// address, the slave knows the master's, and both hold the same PIN.
//
// Contract: Run reads both modules at once, refuses the pair when either does not answer or
// both ports reach one module, then programs both at once. RunOnePort has both modules in turn
// on one port: it reads the master, asks the operator for the slave, programs it, asks for the
// master again and programs it, each module checked by its address, and blocks on the
// operator in between; a pair it leaves half made is noted, and the same run again completes
// it. Both block until every port is closed; the presenter shows the sides and gives the code.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/os/Interrupt.h"
#include "engine/os/RunEnv.h"
#include "engine/pair/PairRecord.h"
#include "engine/session/ModuleSession.h"
#include "engine/session/PortChoice.h"

struct CPairSetup {
  std::string m_strMaster, m_strSlave;
  // One adapter: both modules in turn on this port, swapped by the operator.
  std::string m_strPort;
  std::string m_strPin, m_strMasterName, m_strSlaveName;
  bool m_bPinGiven = false;
  bool m_bMasterNameGiven = false;
  bool m_bSlaveNameGiven = false;
  bool m_bVerify = false;
  bool m_bDryRun = false;
  EPace m_pace = EPace::Standard;
};

// One side of the pair: its port, session and what happened to it.
struct CPairSide {
  const char* m_pszRole;  // "master" or "slave"
  CPortChoice m_port;
  CModuleSession* m_pSession;  // one of the pair's; with one port, the master's and slave's
  CModuleReport m_report;
  CModuleSettings m_target;
  bool m_bTried = false;  // a Program was started
};

// Whoever swaps the modules by hand: told what to do, and waited for.
class CPairOperator {
 public:
  enum class EAnswer { Enter, EndOfInput, Interrupted };
  virtual ~CPairOperator() = default;
  virtual void Say(const std::string& text) = 0;
  // A prompt: anything answered before it was asked is no answer to it.
  virtual void Ask(const std::string& text) = 0;
  // Blocks until the operator answers, the input ends or the user interrupts.
  virtual EAnswer WaitEnter(const CInterrupt& interrupt) = 0;
};

// Shows what became of both sides (programmed false: a dry run's planned change) and gives
// the run's exit code.
class CPairPresenter {
 public:
  virtual ~CPairPresenter() = default;
  virtual int Show(const CPairSide& master, const CPairSide& slave, bool programmed) = 0;
};

class CPairRun {
 public:
  CPairRun(const CPairSetup& setup, CRunEnv& env, CPairPresenter& presenter)
      : m_options(setup), m_env(env), m_presenter(presenter) {}
  int Run();
  int RunOnePort(CPairOperator& console);

 private:
  int Refuse(int code, const std::string& text) {
    m_env.m_err << "corvane: " << text << "\n";
    return code;
  }
  // A side whose Read failed, and for a port it could not open, the doctor to run.
  void SayNotRead(const CPairSide& side);
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
  void PlanSide(CPairSide& side, const std::string& pin, const CAddress& peer);
  // One port, the module read first: the slave of a pair this command left half made, whose
  // master is returned; nothing when it is to be taken for the master.
  std::optional<CModuleAddress> HalfMadeMaster(const CPairRecordFile& record) const;
  // One port: completes the half-made pair whose slave is on the port.
  int CompleteHalfMade(CPairOperator& console, const CPairRecordFile& record,
                       const CModuleAddress& master);
  // One port: asks the operator to put side's module on and reads it, again until the module
  // read is the one wanted (wrong gives what is amiss with an address, or empty). False when
  // the operator ended it (*answer says how).
  bool AskAndRead(CPairOperator& console, CPairSide& side, const std::string& ask,
                  const std::function<std::string(const std::string&)>& wrong,
                  CPairOperator::EAnswer* answer);
  // One port: the master programmed, the note of a half-made pair gone once it is complete.
  int ProgramMaster(CPairOperator& console, const CPairRecordFile& record);
  // One port: the operator ended the run at a prompt; what was done is said.
  int Ended(CPairOperator::EAnswer answer);
  void Program(CPairSide& side) {
    side.m_bTried = true;
    side.m_report.m_outcome = EOutcome::Ok;
    side.m_pSession->Program(side.m_target, false, m_options.m_bVerify, side.m_report);
  }

  const CPairSetup& m_options;
  CRunEnv& m_env;
  CPairPresenter& m_presenter;
  CPairSide m_master{"master", {}, nullptr, {}, {}};
  CPairSide m_slave{"slave", {}, nullptr, {}, {}};
  std::vector<std::unique_ptr<CModuleSession>> m_sessions;
};
