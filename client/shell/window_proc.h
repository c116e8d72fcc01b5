// The main window's procedure: the web view follows the window, closing hides
// to the tray, and the tray icon's menu drives the page's connect switch.
#pragma once
#include <windows.h>

// lParam values of WM_TRAYICON: the icon keeps the shell's first callback
// version, so lParam carries the mouse message itself.
constexpr LPARAM TrayContextMenu = WM_CONTEXTMENU;  // 123
constexpr LPARAM TrayRightButtonDown = WM_RBUTTONDOWN;  // 516
constexpr LPARAM TrayLeftButtonUp = WM_LBUTTONUP;  // 514

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
