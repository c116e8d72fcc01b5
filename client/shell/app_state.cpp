#include "shell/app_state.h"

LANGID UiLanguage = 0;
HINSTANCE AppInstance = nullptr;
HWND MainWindow = nullptr;
LONG HiddenToTray = 0;
