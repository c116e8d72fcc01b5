// Process-wide state of the client and the message and command ids that tie
// start-up, the window procedure and the tunnel-state thread together.
#pragma once
#include <windows.h>

constexpr UINT WM_TRAYICON = WM_USER + 100;     // 1124, the tray icon's callback message
constexpr UINT WM_TRAYREFRESH = WM_USER + 101;  // 1125, posted by the tunnel-state thread
constexpr UINT IDM_SWITCH = 4660;
constexpr UINT IDM_EXIT = 4661;
constexpr UINT TrayIconId = 1;
constexpr WORD ChineseUiLanguage = 2052;

constexpr wchar_t MainWindowClass[] = L"NorvVpnUI";

extern LANGID UiLanguage;
extern HINSTANCE AppInstance;
extern HWND MainWindow;
extern LONG HiddenToTray;
