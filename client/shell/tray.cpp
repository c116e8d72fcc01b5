#include "shell/tray.h"
#include "shell/app_state.h"
#include "shell/texts.h"
#include "webview/handler.h"
#include "webview/webview_host.h"

NOTIFYICONDATAW TrayIconData = {};
HMENU TrayMenu = nullptr;

namespace {

void ShowTrayMenu(const wchar_t* switchCheckedJson) {
  BuildTrayMenu(switchCheckedJson);
  POINT cursor;
  GetCursorPos(&cursor);
  // In the foreground, the menu closes when the user clicks elsewhere.
  SetForegroundWindow(MainWindow);
  TrackPopupMenu(TrayMenu, 0, cursor.x, cursor.y, 0, MainWindow, nullptr);
  // A notification icon's menu needs a message after it, or the next one
  // may close as soon as it opens.
  PostMessageW(MainWindow, WM_NULL, 0, 0);
}

}  // namespace

void AddTrayIcon(HWND window, HICON icon) {
  TrayIconData.cbSize = sizeof(NOTIFYICONDATAW);
  TrayIconData.hIcon = icon;
  TrayIconData.uCallbackMessage = WM_TRAYICON;
  TrayIconData.hWnd = window;
  TrayIconData.uID = TrayIconId;
  CopyText(TrayIconData.szTip, PickText(ProductNameText));
  TrayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  Shell_NotifyIconW(NIM_ADD, &TrayIconData);
}

void RefreshTrayIcon(HWND window) {
  if (IsWindow(window)) Shell_NotifyIconW(NIM_MODIFY, &TrayIconData);
}

void RemoveTrayIcon() { Shell_NotifyIconW(NIM_DELETE, &TrayIconData); }

void ShowContextMenu(HWND window) {
  MainWindow = window;
  if (!WebView) return;
  auto* completion = MakeHandler<ICoreWebView2ExecuteScriptCompletedHandler>(
      [](HRESULT, LPCWSTR result) { ShowTrayMenu(result); });
  WebView->ExecuteScript(SwitchCheckedScript, completion);
  if (completion) completion->Release();
}

void BuildTrayMenu(const wchar_t* switchCheckedJson) {
  if (TrayMenu) DestroyMenu(TrayMenu);
  TrayMenu = CreatePopupMenu();
  if (lstrcmpW(switchCheckedJson, L"null") != 0) {
    const bool on = lstrcmpW(switchCheckedJson, L"true") == 0;
    AppendMenuW(TrayMenu, MF_STRING, IDM_SWITCH, PickText(on ? DisconnectMenuText : ConnectMenuText));
  }
  AppendMenuW(TrayMenu, MF_STRING, IDM_EXIT, PickText(ExitMenuText));
}
