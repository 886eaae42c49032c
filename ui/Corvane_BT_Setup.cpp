// The program's two static objects. Their order is the construction order: the application
// object first, then the visual-styles access, which loads UXTHEME.DLL before any window
// exists and frees it when the program exits.
#include "controls/ThemeApi.h"
#include "ui/SetupApp.h"

CSetupApp theApp;
CThemeApi theThemeApi;
