// The interactive client's window, its icons, and the hand-over to a client
// that already runs in this Windows session.
#pragma once
#include <windows.h>

constexpr int MainWindowWidth = 400;
constexpr int MainWindowHeight = 640;
constexpr DWORD MainWindowStyle = WS_SYSMENU;
constexpr int AppIconId = 101;
constexpr char InstanceMutexName[] = "Local\\$NorvVPN$";
constexpr wchar_t AppUserModelId[] = L"Norv.NorvVPN";

// Walks the top-level windows in Z order for the first one of our class and
// brings it forward (shown and restored when it was hidden). False when there
// is none.
bool RaiseRunningClient();

bool RegisterMainWindowClass(HINSTANCE instance);
HWND CreateMainWindow(HINSTANCE instance);
// Puts icon 101 on the class and the window; returns it for the tray icon.
HICON SetWindowIcons(HWND window, HINSTANCE instance);
