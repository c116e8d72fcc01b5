#include "shell/window_proc.h"
#include "service/service_commands.h"
#include "shell/app_state.h"
#include "shell/tray.h"
#include "webview/engine_life.h"
#include "webview/handler.h"
#include "webview/webview_host.h"

namespace {

void HideToTray(HWND window) {
  HiddenToTray = 1;
  ShowWindow(window, SW_SHOWMINIMIZED);
  ShowWindow(window, SW_HIDE);
}

void ShowFromTray(HWND window) {
  ShowWindow(window, SW_SHOW);
  ShowWindow(window, SW_RESTORE);
  HiddenToTray = 0;
}

void FitWebView(HWND window) {
  if (!WebViewController || !window) return;
  RECT bounds;
  GetClientRect(window, &bounds);
  WebViewController->put_Bounds(bounds);
  WebViewController->put_IsVisible(TRUE);
  WebViewController->put_ParentWindow(window);
}

void ClickSwitch() {
  if (!WebView) return;
  auto* completion = MakeHandler<ICoreWebView2ExecuteScriptCompletedHandler>([](HRESULT, LPCWSTR) {});
  WebView->ExecuteScript(SwitchClickScript, completion);
  if (completion) completion->Release();
}

LRESULT OnTrayIcon(HWND window, LPARAM lParam) {
  switch (lParam) {
    case TrayContextMenu:
    case TrayRightButtonDown:
      ShowContextMenu(window);
      break;
    case TrayLeftButtonUp:
      if (HiddenToTray)
        ShowFromTray(window);
      else
        HideToTray(window);
      break;
  }
  return 0;
}

}  // namespace

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      CloseWebView();
      ReleaseWebViewEnvironment();
      CloseTunnel();
      RemoveTrayIcon();
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      FitWebView(window);
      return 0;
    case WM_CLOSE:
      HideToTray(window);
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDM_SWITCH:
          ClickSwitch();
          return 0;
        case IDM_EXIT:
          // Neither the web view nor the tunnel is closed on this way out.
          ReportClosedByUser();
          RemoveTrayIcon();
          PostQuitMessage(0);
          return 0;
      }
      break;
    case WM_TRAYICON:
      return OnTrayIcon(window, lParam);
    case WM_TRAYREFRESH:
      RefreshTrayIcon(window);
      return 0;
    case WM_WEBVIEW_LIFE:
      OnWebViewLifeMessage(window);
      return 0;
    case WM_TIMER:
      if (wParam != WebViewLifeTimer) break;
      OnWebViewLifeTimer(window);
      return 0;
    // At the session's end the runtime's processes exit as everyone's do:
    // no new browser while it ends, and the view again if it does not.
    case WM_QUERYENDSESSION:
      OnQueryEndSession();
      return TRUE;
    case WM_ENDSESSION:
      OnEndSession(window, wParam != FALSE);
      return 0;
    case WM_PAINT:
      if (WebViewUnavailable) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        PaintWebViewNotice(window, dc);
        EndPaint(window, &paint);
        return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
