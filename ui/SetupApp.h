// CSetupApp: the application object of a dialog program. InitInstance runs the setup dialog
// modally and returns FALSE, so the program ends when the dialog closes.
#pragma once

#include "framework/Framework.h"

class CSetupApp : public CWinApp {
 public:
  // No application name: the title is the program file's name without its extension.
  CSetupApp();
  ~CSetupApp() override;

  // Blocks while the setup dialog runs; always FALSE.
  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};
