// The embedded web view that shows the local service's pages in the main
// window: its creation, configuration and event handlers.
#pragma once
#include <windows.h>
#include "webview/owning_ref.h"
#include "webview/webview2.h"

constexpr wchar_t WebViewStartPage[] = L"http://127.0.0.1:13001";
constexpr wchar_t FreezeObjectScript[] = L"Object.freeze(Object);";
constexpr wchar_t MessageListenerScript[] =
    L"window.chrome.webview.addEventListener('message', event => alert(event.data));"
    L"window.chrome.webview.postMessage(window.document.URL);";

extern OwningRef<ICoreWebView2Controller> WebViewController;
extern OwningRef<ICoreWebView2> WebView;
// The environment that made the view, kept for its browser's exit and for a
// new controller.
extern OwningRef<ICoreWebView2Environment> WebViewEnvironment;
// Set when the runtime could not give us a view; the window then paints a
// notice instead of staying blank.
extern bool WebViewUnavailable;

// Asks the runtime for an environment whose view will live in `window`, with
// the user's temporary folder as user data folder. The completion arrives
// later through the message loop of this (single-threaded apartment) thread.
void RequestWebViewEnvironment(HWND window);
// A new controller from the kept environment.
void RequestWebViewController(HWND window);
// Stops listening to the kept environment and lets go of it.
void ReleaseWebViewEnvironment();

// The eight settings of a new view, in their order.
void ApplySettings(ICoreWebView2Settings* settings);

HRESULT OnEnvironmentCreated(HWND window, HRESULT errorCode, ICoreWebView2Environment* environment);
HRESULT OnControllerCreated(HWND window, HRESULT errorCode, ICoreWebView2Controller* controller);
HRESULT OnNavigationStarting(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args);
HRESULT OnNewWindowRequested(ICoreWebView2* sender, ICoreWebView2NewWindowRequestedEventArgs* args);
HRESULT OnWebMessageReceived(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args);
// The runtime lost a process of failedView (the view the handler was
// registered on); only the view standing is acted on (engine_life.h).
HRESULT OnProcessFailed(HWND window, ICoreWebView2* failedView, ICoreWebView2ProcessFailedEventArgs* args);

// Sets WebViewUnavailable and has the window paint the notice.
void ShowWebViewNotice(HWND window);
// Paints the notice for WebViewUnavailable into the window's client area.
void PaintWebViewNotice(HWND window, HDC dc);
// Hides the view, closes it and lets go of controller and view.
void CloseWebView();
// End of the process: the view first, then its controller and environment.
void ReleaseWebView();
