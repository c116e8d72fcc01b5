#include "shell/app_state.h"

LANGID UiLanguage = 0;
HINSTANCE AppInstance = nullptr;
HWND MainWindow = nullptr;
NOTIFYICONDATAW TrayIconData = {};
LONG HiddenToTray = 0;
HMENU TrayMenu = nullptr;
