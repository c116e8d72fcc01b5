// What becomes of the view when its engine fails under a running client. A
// dead browser's view is rebuilt from the message loop, never inside the
// runtime's handler, once that browser has let go of its user data folder;
// a rebuild that fails is tried again; nothing is rebuilt while the session
// ends; a hung page is judged over two reports before it is reloaded, then
// re-created. All of it runs on the UI thread.
#pragma once
#include <windows.h>
#include "webview/webview2.h"

// Posted by the runtime's handlers; the window procedure passes it on.
constexpr UINT WM_WEBVIEW_LIFE = WM_USER + 102;
// The one timer of a rebuild: the wait for the old browser, then the pauses
// between tries.
constexpr UINT_PTR WebViewLifeTimer = 1;

// From the view's ProcessFailed handler, once the failed view is known to be
// the one standing.
void OnEngineFailed(HWND window, COREWEBVIEW2_PROCESS_FAILED_KIND kind);
// From the environment's BrowserProcessExited handler.
void OnBrowserExited(HWND window, UINT32 browserPid);
// From the host: a view stands, configured (its browser's process id, 0 when
// unknown); or none could be made.
void OnViewBuilt(UINT32 browserPid);
void OnViewNotBuilt(HWND window);

// From the window procedure.
void OnWebViewLifeMessage(HWND window);
void OnWebViewLifeTimer(HWND window);
// WM_QUERYENDSESSION holds every rebuild and hang action; WM_ENDSESSION
// with FALSE (the logoff was cancelled) lets them go on.
void OnQueryEndSession();
void OnEndSession(HWND window, bool ending);
