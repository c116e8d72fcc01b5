// The taskbar as a notification icon's program reaches it: Shell_NotifyIconW
// sends each call's record as WM_COPYDATA to the top-level window of class
// "Shell_TrayWnd". The test process owns that window, so it reads exactly the
// records the taskbar gets, and keeps the icons as the taskbar keeps them: an
// icon stays until NIM_DELETE names it, even after its window is gone, as on
// Windows.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct TrayIcon {
  HWND owner = nullptr;
  UINT id = 0;
  UINT addFlags = 0;  // uFlags of the NIM_ADD call
  UINT callbackMessage = 0;
  std::wstring tip;
  // The last balloon asked for (NIF_INFO), and when it came.
  std::wstring balloonTitle, balloonText;
  DWORD balloonFlags = 0;
  DWORD balloonTick = 0;
};

// Makes the window and its thread once per process and learns the records'
// layout from calls of its own; false when that failed or another window of
// the class would get the records first. Call before the program under test
// starts.
bool StartTaskbar();
// The icons shown now, in the order they were added.
std::vector<TrayIcon> TrayIcons();
// The icon `owner` added, as shown now; false when it has none. By window,
// not by tip: an icon of an earlier run that was not removed stays.
bool FindTrayIcon(HWND owner, TrayIcon* icon = nullptr);
