// The main window's procedure: the web view follows the window, closing hides
// to the tray, and the tray icon's menu drives the page's connect switch.
#pragma once
#include <windows.h>

constexpr wchar_t SwitchCheckedScript[] = L"document.getElementById('vpn_switch').checked;";
constexpr wchar_t SwitchClickScript[] = L"document.getElementById('vpn_switch').click();";

// lParam values of WM_TRAYICON: the icon keeps the shell's first callback
// version, so lParam carries the mouse message itself.
constexpr LPARAM TrayContextMenu = WM_CONTEXTMENU;  // 123
constexpr LPARAM TrayRightButtonDown = WM_RBUTTONDOWN;  // 516
constexpr LPARAM TrayLeftButtonUp = WM_LBUTTONUP;  // 514

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Asks the page for its switch state; the menu follows when the answer comes.
void ShowContextMenu(HWND window);
// Makes the tray menu for the script's JSON result into TrayMenu, replacing
// (and destroying) the previous one.
void BuildTrayMenu(const wchar_t* switchCheckedJson);
