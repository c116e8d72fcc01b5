#include "webview/webview_host.h"
#include "shell/system_library.h"
#include "shell/texts.h"
#include "webview/handler.h"

OwningRef<ICoreWebView2Controller> WebViewController;
OwningRef<ICoreWebView2> WebView;
bool WebViewUnavailable = false;

namespace {

// An engine that keeps failing is not restarted for ever: at most three new
// views, and three reloads of a failed page, within any minute.
struct FailureBudget {
  static constexpr int Limit = 3;
  static constexpr ULONGLONG WindowMs = 60 * 1000;
  ULONGLONG times[Limit];  // a ring, the oldest at next once full
  int next;
  int used;
};
FailureBudget Recreations = {};
FailureBudget Reloads = {};

void MarkUnavailable(HWND window) {
  WebViewUnavailable = true;
  InvalidateRect(window, nullptr, TRUE);
}

// A view we cannot configure is not shown at all.
void DropUnconfiguredView(HWND window) {
  CloseWebView();
  MarkUnavailable(window);
}

// Takes one try out of the budget, or says there is none left.
bool TakeTry(FailureBudget& budget, ULONGLONG now) {
  if (budget.used >= FailureBudget::Limit && now - budget.times[budget.next] < FailureBudget::WindowMs) return false;
  budget.times[budget.next] = now;
  budget.next = (budget.next + 1) % FailureBudget::Limit;
  if (budget.used < FailureBudget::Limit) ++budget.used;
  return true;
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
    MarkUnavailable(window);
    return;
  }
  auto* handler = MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [window](HRESULT errorCode, ICoreWebView2Environment* environment) {
        OnEnvironmentCreated(window, errorCode, environment);
      });
  const HRESULT result = create(nullptr, userDataFolder, nullptr, handler);
  if (handler) handler->Release();
  if (FAILED(result)) MarkUnavailable(window);
}

HRESULT OnEnvironmentCreated(HWND window, HRESULT errorCode, ICoreWebView2Environment* environment) {
  if (FAILED(errorCode) || !environment) {
    MarkUnavailable(window);
    return S_OK;
  }
  auto* handler = MakeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
      [window](HRESULT error, ICoreWebView2Controller* controller) {
        OnControllerCreated(window, error, controller);
      });
  const HRESULT result = environment->CreateCoreWebView2Controller(window, handler);
  if (handler) handler->Release();
  if (FAILED(result)) MarkUnavailable(window);
  return S_OK;
}

HRESULT OnControllerCreated(HWND window, HRESULT errorCode, ICoreWebView2Controller* controller) {
  if (FAILED(errorCode) || !controller) {
    if (!WebViewController) MarkUnavailable(window);
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
  settings->Release();
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
  switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
      // The view is dead for good. The window, the tray and the tunnel stay
      // as they are; only the view is built again, as at start.
      CloseWebView();
      if (TakeTry(Recreations, GetTickCount64()))
        RequestWebViewEnvironment(window);
      else
        MarkUnavailable(window);
      break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
      // A page that fails on every load is left as the engine shows it.
      if (TakeTry(Reloads, GetTickCount64())) WebView->Reload();
      break;
    default:
      break;
  }
  return S_OK;
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
}
