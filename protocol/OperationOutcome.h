// How the last Read or Program of a CSetupOperations ended, as values, for a front end that
// reports it without reading the dialog's message texts or its progress bar; and the step
// tables that say which setting each step reads or writes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "protocol/ModuleAddress.h"

// The steps of an operation in the order they run: Read runs the Get steps, Program the Set
// steps; both may end with TurnOff.
enum class EStep {
  Search,     // listing the ports and probing them
  OpenPort,   // opening the port the module answered on, for the operation
  Handshake,  // CMD_OPEN (with its single rerun of the whole operation)
  GetPeerAddr,
  GetDeviceAddr,
  GetName,
  GetPin,
  GetRole,
  SetName,
  SetPin,
  SetRole,
  SetPeerAddr,
  // The command line's identity check: the module's own address asked for again
  CheckAddress,
  TurnOff,
  Done,  // every step ran
};

enum class EResult {
  Ok,         // every step succeeded
  NoModule,   // no port answered the probe (step Search), or the port that answered could
              // not be opened again for the operation (step OpenPort)
  CommError,  // an exchange failed after the module was found; the step says which
  // The module answering is not the one expected (a command-line check; the dialog never
  // sets one): another module was put on the port
  ModuleChanged,
};

// One step that reads or writes a setting, and the setting's name: "peer", "address" (the
// module's own, read only), "name", "pin" or "role".
struct CSettingStep {
  EStep m_eStep;
  const char* m_pszSetting;
};

// What Read fetches and Program writes, in the order the steps run.
inline constexpr CSettingStep kReadSettings[] = {{EStep::GetPeerAddr, "peer"},
                                                 {EStep::GetDeviceAddr, "address"},
                                                 {EStep::GetName, "name"},
                                                 {EStep::GetPin, "pin"},
                                                 {EStep::GetRole, "role"}};
inline constexpr CSettingStep kProgramSettings[] = {{EStep::SetName, "name"},
                                                    {EStep::SetPin, "pin"},
                                                    {EStep::SetRole, "role"},
                                                    {EStep::SetPeerAddr, "peer"}};

// The setting a step reads or writes, from the tables above; null for the other steps.
inline const char* StepSetting(EStep step) {
  for (const CSettingStep& s : kReadSettings) {
    if (s.m_eStep == step) return s.m_pszSetting;
  }
  for (const CSettingStep& s : kProgramSettings) {
    if (s.m_eStep == step) return s.m_pszSetting;
  }
  return nullptr;
}

struct COperationOutcome {
  EResult m_eResult = EResult::Ok;
  // Where the operation ended: the step that failed, or Done. A turn-off that went
  // unanswered is CommError at TurnOff, with every setting in place.
  EStep m_eStep = EStep::Done;
  // Settings whose reply was taken and shown (Read), or that the module acknowledged
  // (Program), by their names in the step tables, in the order they ran.
  std::vector<std::string> m_read;
  std::vector<std::string> m_acked;
  // Asked to run fast, the operation switched to standard after a failed try (EPace).
  bool m_bFellBack = false;
  // The module's own address as its reply gave it in this operation (Read's query, or an
  // identity check's), kept even when a later step failed.
  std::optional<CModuleAddress> m_address;
  // With ModuleChanged: the address that answered instead of the expected one.
  std::optional<CModuleAddress> m_otherAddress;
  // Settings the module may hold without its word for it: with ModuleChanged, those
  // acknowledged since the last check that found the expected module (either module may have
  // taken them); with a failed Program, the one sent and never acknowledged.
  std::vector<std::string> m_unconfirmed;
};
