// Wine's tray as a user sees it. With no system tray on the display, Wine
// shows a "Wine System Tray" window (class "__winex11_standalone_tray") in its
// explorer process: each icon is a child window of class
// "__winex11_tray_icon", and the icon's tooltip and its balloon are
// "tooltips_class32" controls owned by that window, each with one tool whose
// window is the icon. Nothing here holds on Windows, whose tray is drawn by
// Explorer in other ways.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The tray icons shown now, in child order.
std::vector<HWND> TrayIcons();
// The first icon whose tooltip reads `tip`, or null.
HWND FindTrayIcon(const std::wstring& tip);
// The text of the tooltip (not balloon) that belongs to `icon`; empty when
// it has none.
std::wstring TrayIconTip(HWND icon);
// The balloon showing for `icon` now, or null.
HWND FindTrayBalloon(HWND icon);
// The balloon's text.
std::wstring BalloonText(HWND balloon, HWND icon);

// Wine 8's tooltips do not answer TTM_GETTITLE, so the title is compared as
// drawn: a balloon of our own with the expected title, text and icon is shown
// over the tray's at the same place, and the two must match pixel for pixel.
// An empty result means they match; otherwise it says what differed.
std::string CompareBalloon(HWND balloon, HWND icon, const std::wstring& title, const std::wstring& text,
                           DWORD infoFlags);
