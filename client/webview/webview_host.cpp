#include "webview/webview_host.h"
#include "shell/system_library.h"
#include "shell/texts.h"
#include "webview/engine_life.h"
#include "webview/handler.h"

OwningRef<ICoreWebView2Controller> WebViewController;
OwningRef<ICoreWebView2> WebView;
OwningRef<ICoreWebView2Environment> WebViewEnvironment;
bool WebViewUnavailable = false;

namespace {

EventRegistrationToken BrowserExitedToken = {};
bool ListeningForBrowserExit = false;

// A view we cannot configure is not shown at all.
void DropUnconfiguredView(HWND window) {
  CloseWebView();
  OnViewNotBuilt(window);
}

// The browser may end before the view hears of it: the environment says when
// every process of its browser is gone. A runtime without the event leaves
// the rebuild to its time-out.
void ListenForBrowserExit(HWND window, ICoreWebView2Environment* environment) {
  ICoreWebView2Environment5* environment5 = nullptr;
  if (FAILED(environment->QueryInterface(IID_ICoreWebView2Environment5, reinterpret_cast<void**>(&environment5))) ||
      !environment5)
    return;
  auto* handler = MakeHandler<ICoreWebView2BrowserProcessExitedEventHandler>(
      [window, environment](ICoreWebView2Environment* sender, ICoreWebView2BrowserProcessExitedEventArgs* args) {
        UINT32 pid = 0;
        if (sender != environment || WebViewEnvironment.Get() != environment) return;
        if (!args || FAILED(args->get_BrowserProcessId(&pid))) pid = 0;
        OnBrowserExited(window, pid);
      });
  ListeningForBrowserExit = SUCCEEDED(environment5->add_BrowserProcessExited(handler, &BrowserExitedToken));
  if (handler) handler->Release();
  environment5->Release();
}

}  // namespace

void ApplySettings(ICoreWebView2Settings* settings) {
  settings->put_IsScriptEnabled(TRUE);
  settings->put_IsWebMessageEnabled(TRUE);
  settings->put_AreDefaultScriptDialogsEnabled(FALSE);
  settings->put_AreDefaultContextMenusEnabled(FALSE);
  settings->put_AreDevToolsEnabled(FALSE);
  settings->put_IsBuiltInErrorPageEnabled(FALSE);
  settings->put_IsStatusBarEnabled(FALSE);
  settings->put_IsZoomControlEnabled(FALSE);
}

void RequestWebViewEnvironment(HWND window) {
  wchar_t tempFolder[MAX_PATH] = {};
  const DWORD length = GetTempPathW(MAX_PATH, tempFolder);
  // Never hand the runtime an unfilled buffer: without a temporary folder it
  // gets no user data folder at all.
  const wchar_t* userDataFolder = (length > 0 && length < MAX_PATH) ? tempFolder : nullptr;

  // The loader stays loaded for the life of the process.
  HMODULE loader = nullptr;
  auto create =
      LoadLibraryFunction<CreateEnvironmentWithOptionsFunction>(WebViewLoaderDll, CreateEnvironmentExport, &loader);
  if (!create) {
    OnViewNotBuilt(window);
    return;
  }
  auto* handler = MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [window](HRESULT errorCode, ICoreWebView2Environment* environment) {
        OnEnvironmentCreated(window, errorCode, environment);
      });
  const HRESULT result = create(nullptr, userDataFolder, nullptr, handler);
  if (handler) handler->Release();
  if (FAILED(result)) OnViewNotBuilt(window);
}

void RequestWebViewController(HWND window) {
  if (!WebViewEnvironment) {
    OnViewNotBuilt(window);
    return;
  }
  auto* handler = MakeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
      [window](HRESULT error, ICoreWebView2Controller* controller) {
        OnControllerCreated(window, error, controller);
      });
  const HRESULT result = WebViewEnvironment->CreateCoreWebView2Controller(window, handler);
  if (handler) handler->Release();
  if (FAILED(result)) OnViewNotBuilt(window);
}

void ReleaseWebViewEnvironment() {
  if (ListeningForBrowserExit && WebViewEnvironment) {
    ICoreWebView2Environment5* environment5 = nullptr;
    if (SUCCEEDED(WebViewEnvironment->QueryInterface(IID_ICoreWebView2Environment5,
                                                     reinterpret_cast<void**>(&environment5))) &&
        environment5) {
      environment5->remove_BrowserProcessExited(BrowserExitedToken);
      environment5->Release();
    }
  }
  ListeningForBrowserExit = false;
  WebViewEnvironment.Reset();
}

HRESULT OnEnvironmentCreated(HWND window, HRESULT errorCode, ICoreWebView2Environment* environment) {
  if (FAILED(errorCode) || !environment) {
    OnViewNotBuilt(window);
    return S_OK;
  }
  ReleaseWebViewEnvironment();
  WebViewEnvironment.Store(environment);
  ListenForBrowserExit(window, environment);
  RequestWebViewController(window);
  return S_OK;
}

HRESULT OnControllerCreated(HWND window, HRESULT errorCode, ICoreWebView2Controller* controller) {
  if (FAILED(errorCode) || !controller) {
    if (!WebViewController) OnViewNotBuilt(window);
    return S_OK;
  }
  WebViewController.Store(controller);
  WebViewController->get_CoreWebView2(WebView.Put());
  ICoreWebView2Settings* settings = nullptr;
  if (WebView) WebView->get_Settings(&settings);
  if (!settings) {
    DropUnconfiguredView(window);
    return S_OK;
  }
  WebViewUnavailable = false;
  ApplySettings(settings);

  RECT bounds;
  GetClientRect(window, &bounds);
  WebViewController->put_Bounds(bounds);

  // Scripts and handlers are in place before the first navigation starts: a
  // document script reaches only documents whose navigation began after it.
  EventRegistrationToken token;
  auto* navigationStarting = MakeHandler<ICoreWebView2NavigationStartingEventHandler>(OnNavigationStarting);
  WebView->add_NavigationStarting(navigationStarting, &token);
  if (navigationStarting) navigationStarting->Release();

  WebView->AddScriptToExecuteOnDocumentCreated(FreezeObjectScript, nullptr);

  auto* newWindow = MakeHandler<ICoreWebView2NewWindowRequestedEventHandler>(OnNewWindowRequested);
  WebView->add_NewWindowRequested(newWindow, &token);
  if (newWindow) newWindow->Release();

  auto* webMessage = MakeHandler<ICoreWebView2WebMessageReceivedEventHandler>(OnWebMessageReceived);
  WebView->add_WebMessageReceived(webMessage, &token);
  if (webMessage) webMessage->Release();

  // The view this handler belongs to, for identity only: an event of a view
  // already replaced is not acted on.
  ICoreWebView2* view = WebView.Get();
  auto* processFailed = MakeHandler<ICoreWebView2ProcessFailedEventHandler>(
      [window, view](ICoreWebView2*, ICoreWebView2ProcessFailedEventArgs* args) {
        OnProcessFailed(window, view, args);
      });
  WebView->add_ProcessFailed(processFailed, &token);
  if (processFailed) processFailed->Release();

  WebView->AddScriptToExecuteOnDocumentCreated(MessageListenerScript, nullptr);
  WebView->Navigate(WebViewStartPage);
  // Which browser's exit a rebuild after this view's death waits for.
  UINT32 browserPid = 0;
  if (FAILED(WebView->get_BrowserProcessId(&browserPid))) browserPid = 0;
  settings->Release();
  OnViewBuilt(browserPid);
  return S_OK;
}

HRESULT OnNavigationStarting(ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
  LPWSTR uri = nullptr;
  if (SUCCEEDED(args->get_Uri(&uri)) && uri) CoTaskMemFree(uri);
  return S_OK;
}

// The runtime's own handling of new windows applies.
HRESULT OnNewWindowRequested(ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs*) { return S_OK; }

HRESULT OnWebMessageReceived(ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
  LPWSTR message = nullptr;
  if (SUCCEEDED(args->TryGetWebMessageAsString(&message)) && message) CoTaskMemFree(message);
  return S_OK;
}

HRESULT OnProcessFailed(HWND window, ICoreWebView2* failedView, ICoreWebView2ProcessFailedEventArgs* args) {
  COREWEBVIEW2_PROCESS_FAILED_KIND kind;
  if (!args || FAILED(args->get_ProcessFailedKind(&kind))) return S_OK;
  if (!WebView || WebView.Get() != failedView) return S_OK;
  OnEngineFailed(window, kind);
  return S_OK;
}

void ShowWebViewNotice(HWND window) {
  WebViewUnavailable = true;
  InvalidateRect(window, nullptr, TRUE);
}

void PaintWebViewNotice(HWND window, HDC dc) {
  RECT area;
  GetClientRect(window, &area);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  DrawTextW(dc, PickText(WebViewFailedText), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void CloseWebView() {
  if (!WebViewController) return;
  WebViewController->put_IsVisible(FALSE);
  WebViewController->Close();
  WebViewController.Reset();
  WebView.Reset();
}

void ReleaseWebView() {
  WebView.Reset();
  WebViewController.Reset();
  ReleaseWebViewEnvironment();
}
