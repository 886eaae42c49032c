// The two operations of the setup dialog, Read and Program, with the device search and the
// beginning and endings they share.
//
// Contract: OnRead and OnProgram run the whole operation on the caller's (GUI) thread and
// return when it has ended: they block in serial reads, in the injected sleep and inside the
// view's message boxes. Every path that opens a port closes it before returning; between
// operations the port is closed and m_nRetry is 0. Failures are told to the user through the
// view; nothing is returned. The serial channel and the view must outlive this object.
#pragma once

#include <string>

#include "protocol/CommandExchange.h"
#include "protocol/OperationOutcome.h"
#include "protocol/SetupView.h"

class CSetupOperations : public CCommandExchange {
 public:
  CSetupOperations(CSerialPort& serial, CSetupView& view, SleepFn sleep);

  // The pace (see EPace in CommandExchange.h) is set with SetPace and holds for every later
  // operation; each operation starts at it again, whatever the last one fell back to.

  // Handler of IDC_READ: fetches the module's settings into the view's controls, each as soon
  // as its reply arrives. A failure keeps what was already written.
  void OnRead();
  // Handler of IDC_PROGRAM: writes the view's name, PIN, role and peer address to the module.
  // A failure keeps what the module has already acknowledged.
  void OnProgram();

  // How a Program makes sure it is still talking to the module it expects (the command
  // line's choice; the dialog never expects one): not at all; before the first setting and
  // after the last; or before every setting and after the last. Each check is the
  // device-address query on the operation's own connection.
  enum class EIdentityCheck { None, Edges, EverySetting };
  // From now on every operation expects the module at address: Program checks it as check
  // says, and Read ends at the device-address reply when another module answered. A module
  // that is not the one expected ends the operation with ModuleChanged, the port closed and
  // no message shown.
  void ExpectAddress(const CModuleAddress& address, EIdentityCheck check);
  void ForgetExpectedAddress() { m_expected.reset(); }
  // The command line's look at who is on the port: search, open, handshake, the
  // device-address query, close; Outcome().m_address holds the answer. Shows no message.
  void OnIdentify();

  // Opens the port at the probe's time-out, sends the probe, closes the port. True when the
  // module answered with ACK; false also when the port cannot be opened.
  bool ProbePort(const std::string& portName);
  // Lists the machine's ports and probes them in order; the first that answers wins and its
  // name goes to m_strPortName, later ports are not touched. False when none answered.
  bool FindModulePort();

  // How the last OnRead or OnProgram ended (see OperationOutcome.h). Valid after the call
  // has returned; a rerun after a failed handshake counts as part of the same operation.
  const COperationOutcome& Outcome() const { return m_outcome; }

  // Two hexadecimal digits at the start of text as one byte; 0 unless both are digits.
  // Characters after the second are ignored. A null text gives 0.
  static BYTE ParseHexByte(const char* text);

  // Port on which the module last answered the probe; never cleared.
  std::string m_strPortName;
  // How many times the current button press has rerun its operation after a failed
  // handshake; 0 between operations.
  int m_nRetry;

 private:
  enum class EOperation { Read, Program, Identify };

  void Run(EOperation op);
  // The shared beginning: search, open, lock, handshake (with its single rerun). True when the
  // handshake succeeded: the port is then open and the operation continues; false when this
  // run has already ended.
  bool Begin(EOperation op);
  void ReadSettings();
  void ProgramSettings();
  // An identity check: true when the expected module answered; otherwise the operation has
  // ended (a failed exchange, or ModuleChanged).
  bool CheckIdentity(EOperation op);
  // Before the setting at index (0 for the first): a check where the checks ask for one.
  bool CheckBefore(int index);
  void EndWithChange(EOperation op, const CModuleAddress& found);
  // One step of Read or Program: its exchange, and on success the setting it took or wrote
  // noted in the outcome. On failure the failure ending has run and the result is false.
  bool Query(EStep step, BYTE command, BYTE tag, const CCommandTiming& timing,
             const ReplyConsumer& consumer);
  bool Write(EStep step, const FrameSource& frame, const CCommandTiming& timing);
  // Optional CMD_TURN_OFF, then the normal ending.
  void Finish(EOperation op);
  void EndNormally(EOperation op);
  void EndWithFailure(EOperation op);
  void UnlockButtons(EOperation op);

  CSetupView& m_view;
  COperationOutcome m_outcome;
  std::optional<CModuleAddress> m_expected;
  EIdentityCheck m_eCheck = EIdentityCheck::None;
  // How many of m_outcome.m_acked came before the last check that found the expected module.
  size_t m_nConfirmed = 0;
};
