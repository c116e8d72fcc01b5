// The tray icon and its menu: the one icon record's add, refresh and removal,
// and the popup menu whose first item follows the page's connect switch.
#pragma once
#include <windows.h>
#include <shellapi.h>

// The shell identifies the icon by the record's window and id; the tunnel-state
// thread fills its balloon fields before it posts WM_TRAYREFRESH.
static_assert(sizeof(NOTIFYICONDATAW) == 976, "NOTIFYICONDATAW must be the full current record");
extern NOTIFYICONDATAW TrayIconData;
// The popup menu most recently built.
extern HMENU TrayMenu;

constexpr wchar_t SwitchCheckedScript[] = L"document.getElementById('vpn_switch').checked;";
constexpr wchar_t SwitchClickScript[] = L"document.getElementById('vpn_switch').click();";

// Fills the record for `window` with the product name as tooltip and adds the
// icon. Nothing is retried when the notification area is missing.
void AddTrayIcon(HWND window, HICON icon);
// Applies the record exactly as the tunnel-state thread left it.
void RefreshTrayIcon(HWND window);
void RemoveTrayIcon();

// Asks the page for its switch state; the menu follows when the answer comes.
void ShowContextMenu(HWND window);
// Makes the tray menu for the script's JSON result into TrayMenu, replacing
// (and destroying) the previous one.
void BuildTrayMenu(const wchar_t* switchCheckedJson);
