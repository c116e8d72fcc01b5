#include "web_view.h"
#include <algorithm>
#include <memory>
#include "browser.h"
#include "call_log.h"
#include "delivery.h"
#include "page_window.h"

namespace {

// The page's side of window.chrome.webview: a binding the browser calls us
// through, taken off the global object by the first document script (ours,
// registered before any of the client's), which leaves only
// chrome.webview.postMessage and the message listener functions.
constexpr char BindingName[] = "__norvWebViewPost";
constexpr char BindingScript[] = R"((() => {
  const post = globalThis.__norvWebViewPost;
  if (typeof post !== 'function') return;
  delete globalThis.__norvWebViewPost;
  const messages = new EventTarget();
  const webview = Object.freeze({
    postMessage(message) { post(JSON.stringify(message === undefined ? null : message)); },
    addEventListener(type, listener, options) { messages.addEventListener(type, listener, options); },
    removeEventListener(type, listener, options) { messages.removeEventListener(type, listener, options); },
  });
  if (!globalThis.chrome) globalThis.chrome = {};
  Object.defineProperty(globalThis.chrome, 'webview', { value: webview, enumerable: true });
})();)";

const wchar_t* const SettingNames[SettingCount] = {
    L"IsScriptEnabled",    L"IsWebMessageEnabled",          L"AreDefaultScriptDialogsEnabled",
    L"IsStatusBarEnabled", L"AreDevToolsEnabled",           L"AreDefaultContextMenusEnabled",
    L"AreHostObjectsAllowed", L"IsZoomControlEnabled",      L"IsBuiltInErrorPageEnabled"};

WebView* From(ComObject* self) { return reinterpret_cast<WebView*>(self); }

int ProcessFailedDepth = 0;

// A renderer busy for ever does not answer a trivial script; the real runtime
// then reports RENDER_PROCESS_UNRESPONSIVE about every 15 s for as long as it
// lasts (NORV_WEBVIEW_HANG_REPORT_MS shortens that for tests).
constexpr ULONGLONG ProbeAnswerMs = 5000;
std::vector<WebView*> ProbedViews;  // open views, UI thread only

// The script's value as JSON text, by the runtime's rules: "null" for
// undefined, a thrown exception, or a value JSON cannot encode.
std::wstring ScriptResultJson(const Json& result, const Json& error) {
  if (!error.is_null() || !result.is_object() || result.contains("exceptionDetails")) return L"null";
  const Json value = result.value("result", Json::object());
  if (value.contains("unserializableValue")) return value["unserializableValue"] == "-0" ? L"0" : L"null";
  const std::string type = value.value("type", "");
  if (type == "undefined" || type == "function" || type == "symbol" || !value.contains("value")) return L"null";
  return Wide(value["value"].dump(-1, ' ', false, Json::error_handler_t::replace));
}

void ReleaseRegistrations(std::vector<HandlerRegistration>* list, const wchar_t* kind) {
  auto taken = std::move(*list);
  list->clear();
  for (auto& entry : taken) {
    ULONG count = entry.handler->Release();
    Log(std::wstring(kind) + L".Release " + std::to_wstring(count));
  }
}

HRESULT Register(WebView* view, std::vector<HandlerRegistration>* list, IUnknown* handler,
                 EventRegistrationToken* token) {
  if (view->closed) return ClosedError;
  if (!handler || !token) return E_INVALIDARG;
  handler->AddRef();
  token->value = view->nextToken++;
  list->push_back({token->value, handler});
  return S_OK;
}

void RaiseNavigationStarting(WebView* view, const std::string& url) {
  const std::wstring uri = Wide(url);
  ComObject* args = CreateNavigationStartingArgs(uri);
  if (!args) return;
  Log(L"NavigationStarting " + uri);
  ForEachHandler<ICoreWebView2NavigationStartingEventHandler>(view->navigationStarting, [&](auto* handler) {
    handler->Invoke(WebViewInterface(view), AsInterface<ICoreWebView2NavigationStartingEventArgs>(args));
  });
  DropObject(args);
}

void RaiseWebMessage(WebView* view, const std::string& payload) {
  ComObject* args = CreateWebMessageArgs(payload);
  if (!args) return;
  Log(L"WebMessageReceived " + Wide(view->url));
  ForEachHandler<ICoreWebView2WebMessageReceivedEventHandler>(view->webMessageReceived, [&](auto* handler) {
    handler->Invoke(WebViewInterface(view), AsInterface<ICoreWebView2WebMessageReceivedEventArgs>(args));
  });
  DropObject(args);
}

void RaiseProcessFailed(WebView* view, COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
  ComObject* args = CreateProcessFailedArgs(kind);
  if (!args) return;
  Log(L"ProcessFailed " + std::to_wstring(static_cast<int>(kind)));
  ++ProcessFailedDepth;
  ForEachHandler<ICoreWebView2ProcessFailedEventHandler>(view->processFailed, [&](auto* handler) {
    handler->Invoke(WebViewInterface(view), AsInterface<ICoreWebView2ProcessFailedEventArgs>(args));
  });
  --ProcessFailedDepth;
  DropObject(args);
}

void ProbeView(WebView* view) {
  if (view->closed || view->dialogOpen) return;
  const ULONGLONG now = GetTickCount64();
  if (view->probeSentAt != 0) {
    if (now - view->probeSentAt >= ProbeAnswerMs)
      RaiseProcessFailed(view, COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE);
    return;
  }
  view->probeSentAt = now;
  const int id = ++view->probeId;
  HoldObject(&view->com);
  SendCommand("Runtime.evaluate", {{"expression", "1"}}, view->session, [view, id](const Json&, const Json&) {
    Deliver([view, id] {
      if (view->probeId == id) view->probeSentAt = 0;
      DropObject(&view->com);
    });
  });
}

// A new document, or none after a crash: an older probe tells nothing.
void ForgetProbe(WebView* view) {
  view->probeSentAt = 0;
  ++view->probeId;
}

DWORD WINAPI ProbeTicks(void*) {
  wchar_t value[16] = {};
  const DWORD length = GetEnvironmentVariableW(L"NORV_WEBVIEW_HANG_REPORT_MS", value, 16);
  const DWORD chosen = length > 0 && length < 16 ? wcstoul(value, nullptr, 10) : 0;
  const DWORD intervalMs = chosen > 0 ? chosen : 15000;
  for (;;) {
    Sleep(intervalMs);
    Deliver([] {
      // A handler may close views, its own or others.
      auto views = ProbedViews;
      for (WebView* view : views) HoldObject(&view->com);
      for (WebView* view : views) {
        ProbeView(view);
        DropObject(&view->com);
      }
    });
  }
}

void StartProbing(WebView* view) {
  static const bool ticking = [] {
    HANDLE thread = CreateThread(nullptr, 0, ProbeTicks, nullptr, 0, nullptr);
    if (thread) CloseHandle(thread);
    return thread != nullptr;
  }();
  if (ticking) ProbedViews.push_back(view);
}

void SendDocumentScript(WebView* view, const std::string& source,
                        ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) {
  SendCommand("Page.addScriptToEvaluateOnNewDocument", {{"source", source}}, view->session,
              [handler](const Json& result, const Json& error) {
                if (!handler) return;
                const HRESULT code = error.is_null() ? S_OK : E_FAIL;
                const std::wstring id = Wide(result.is_object() ? result.value("identifier", "") : std::string());
                Deliver([handler, code, id] {
                  handler->Invoke(code, id.c_str());
                  Log(L"AddScriptCompletedHandler.Release " + std::to_wstring(handler->Release()));
                });
              });
}

// One navigation of the client's has reached its document (or failed, or
// been given up); once none is on its way, the scripts held meanwhile go in.
void SettleNavigation(WebView* view) {
  if (view->navigationsInFlight > 0) --view->navigationsInFlight;
  if (view->navigationsInFlight > 0 || view->closed) return;
  auto held = std::move(view->heldScripts);
  view->heldScripts.clear();
  for (auto& script : held) SendDocumentScript(view, script.source, script.completion);
}

void OnNavigateReply(WebView* view, const Json& result, const Json& error) {
  const std::string loader = result.is_object() ? result.value("loaderId", "") : std::string();
  const bool failed = !error.is_null() || !result.is_object() || !result.value("errorText", "").empty();
  if (failed || loader.empty() || loader == view->lastCommittedLoader) {
    SettleNavigation(view);
    return;
  }
  view->awaitedLoaders.push_back(loader);
}

void OnMainFrameCommitted(WebView* view, const std::string& loader) {
  view->lastCommittedLoader = loader;
  auto awaited = std::find(view->awaitedLoaders.begin(), view->awaitedLoaders.end(), loader);
  if (awaited == view->awaitedLoaders.end()) return;
  view->awaitedLoaders.erase(awaited);
  SettleNavigation(view);
}

// The frame stopped loading without committing what we waited for (a 204,
// a navigation replaced by another): nothing of it will come.
void OnMainFrameStopped(WebView* view) {
  auto awaited = std::move(view->awaitedLoaders);
  view->awaitedLoaders.clear();
  for (size_t i = 0; i < awaited.size(); ++i) SettleNavigation(view);
}

void StartNavigation(WebView* view, const std::string& url) {
  HoldObject(&view->com);
  SendCommand("Page.navigate", {{"url", url}}, view->session, [view](const Json& result, const Json& error) {
    Deliver([view, result, error] {
      if (!view->closed) OnNavigateReply(view, result, error);
      DropObject(&view->com);
    });
  });
}

// A setting that the browser applies (scripts, the message binding) holds
// the client's next navigation back until the browser has confirmed it: its
// reply brings the state along that a new document's renderer starts from.
void SendSettingCommand(WebView* view, const char* method, const Json& params) {
  ++view->settingsInFlight;
  HoldObject(&view->com);
  SendCommand(method, params, view->session, [view](const Json&, const Json&) {
    Deliver([view] {
      if (--view->settingsInFlight == 0 && !view->closed) {
        auto waiting = std::move(view->waitingNavigations);
        view->waitingNavigations.clear();
        for (const auto& url : waiting) StartNavigation(view, url);
      }
      DropObject(&view->com);
    });
  });
}

void DropHeldScripts(WebView* view) {
  auto held = std::move(view->heldScripts);
  view->heldScripts.clear();
  for (auto& script : held)
    if (script.completion)
      Log(L"AddScriptCompletedHandler.Release " + std::to_wstring(script.completion->Release()));
}

struct DialogRequest {
  std::string session;
  std::string type;
  std::wstring message;
  std::string defaultPrompt;
};

// The default dialogs, on a thread of their own so that the client's
// callbacks keep coming while one is open, as they do with the real runtime.
DWORD WINAPI ShowDialog(void* parameter) {
  std::unique_ptr<DialogRequest> request(static_cast<DialogRequest*>(parameter));
  const UINT style = request->type == "alert" ? MB_OK | MB_ICONINFORMATION : MB_OKCANCEL | MB_ICONQUESTION;
  const bool accepted = MessageBoxW(nullptr, request->message.c_str(), L"", style | MB_TOPMOST) == IDOK;
  Json answer = {{"accept", accepted}};
  if (request->type == "prompt") answer["promptText"] = request->defaultPrompt;
  SendCommand("Page.handleJavaScriptDialog", answer, request->session);
  return 0;
}

void OnDialog(WebView* view, const Json& params) {
  const std::string type = params.value("type", "");
  const std::wstring message = Wide(params.value("message", ""));
  if (view->settings[AreDefaultScriptDialogsEnabled]) {
    Log(L"ScriptDialog.shown " + Wide(type) + L" " + message);
    auto* request = new DialogRequest{view->session, type, message, params.value("defaultPrompt", "")};
    HANDLE thread = CreateThread(nullptr, 0, ShowDialog, request, 0, nullptr);
    if (thread) {
      CloseHandle(thread);
      return;
    }
    delete request;
  }
  // No dialog and no handler for one: the page goes on as if the user had
  // dismissed it; leaving the page is allowed.
  Log(L"ScriptDialog.suppressed " + Wide(type) + L" " + message);
  SendCommand("Page.handleJavaScriptDialog", {{"accept", type == "beforeunload"}}, view->session);
}

bool IsNewDocument(const std::string& navigationType) {
  return navigationType != "sameDocument" && navigationType != "historySameDocument";
}

void OnPageEvent(WebView* view, const std::string& method, const Json& params) {
  if (view->closed) return;
  if (method == "Page.frameStartedNavigating") {
    if (params.value("frameId", "") == view->target && IsNewDocument(params.value("navigationType", "")))
      RaiseNavigationStarting(view, params.value("url", ""));
  } else if (method == "Page.frameNavigated") {
    const Json frame = params.value("frame", Json::object());
    if (frame.value("id", "") != view->target) return;
    view->url = frame.value("url", "");
    view->errorDocument = frame.contains("unreachableUrl");
    ForgetProbe(view);
    OnMainFrameCommitted(view, frame.value("loaderId", ""));
    Log(L"WebView.document " + Wide(view->url));
    SetPageBlank(view->page, view->errorDocument && !view->settings[IsBuiltInErrorPageEnabled]);
  } else if (method == "Page.frameStoppedLoading") {
    if (params.value("frameId", "") == view->target) OnMainFrameStopped(view);
  } else if (method == "Inspector.targetCrashed") {
    // Nothing the crashed renderer was loading will commit.
    OnMainFrameStopped(view);
    ForgetProbe(view);
    RaiseProcessFailed(view, COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED);
  } else if (method == "Page.navigatedWithinDocument") {
    if (params.value("frameId", "") == view->target) view->url = params.value("url", "");
  } else if (method == "Runtime.executionContextCreated") {
    const Json context = params.value("context", Json::object());
    const Json aux = context.value("auxData", Json::object());
    view->mainWorlds[context.value("id", 0LL)] = aux.value("frameId", "") == view->target && aux.value("isDefault", false);
  } else if (method == "Runtime.executionContextDestroyed") {
    view->mainWorlds.erase(params.value("executionContextId", 0LL));
  } else if (method == "Runtime.executionContextsCleared") {
    view->mainWorlds.clear();
  } else if (method == "Runtime.bindingCalled") {
    // Only the top document's own messages; a network error page is not the page's.
    auto world = view->mainWorlds.find(params.value("executionContextId", 0LL));
    if (params.value("name", "") != BindingName || world == view->mainWorlds.end() || !world->second ||
        view->errorDocument || !view->settings[IsWebMessageEnabled])
      return;
    RaiseWebMessage(view, params.value("payload", ""));
  } else if (method == "Page.javascriptDialogOpening") {
    // A page waiting for its dialog is not hung.
    view->dialogOpen = true;
    OnDialog(view, params);
  } else if (method == "Page.javascriptDialogClosed") {
    view->dialogOpen = false;
  } else if (method == "Page.windowOpen") {
    OnWindowOpen(view, params);
  }
}

void DestroyWebView(ComObject* self) { delete From(self); }

HRESULT STDMETHODCALLTYPE GetSettings(ComObject* self, ICoreWebView2Settings** settings) {
  Log(L"WebView.get_Settings");
  if (!settings) return E_POINTER;
  *settings = nullptr;
  if (From(self)->closed) return ClosedError;
  ComObject* object = CreateSettings(From(self));
  if (!object) return E_OUTOFMEMORY;
  *settings = AsInterface<ICoreWebView2Settings>(object);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Navigate(ComObject* self, LPCWSTR uri) {
  const std::wstring address = uri ? uri : L"";
  Log(L"WebView.Navigate " + address);
  WebView* view = From(self);
  if (view->closed) return ClosedError;
  if (address.empty()) return E_INVALIDARG;
  // Started now: a document script added after this call is not the new
  // document's (SettleNavigation).
  ++view->navigationsInFlight;
  if (view->settingsInFlight > 0)
    view->waitingNavigations.push_back(Utf8(address));
  else
    StartNavigation(view, Utf8(address));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Reload(ComObject* self) {
  Log(L"WebView.Reload");
  WebView* view = From(self);
  if (view->closed) return ClosedError;
  SendCommand("Page.reload", Json::object(), view->session);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE GetBrowserProcessId(ComObject* self, UINT32* pid) {
  Log(L"WebView.get_BrowserProcessId");
  if (!pid) return E_POINTER;
  *pid = 0;
  if (From(self)->closed) return ClosedError;
  *pid = static_cast<UINT32>(From(self)->browserPid);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE AddProcessFailed(ComObject* self, ICoreWebView2ProcessFailedEventHandler* handler,
                                           EventRegistrationToken* token) {
  Log(L"WebView.add_ProcessFailed");
  return Register(From(self), &From(self)->processFailed, handler, token);
}

HRESULT STDMETHODCALLTYPE AddNavigationStarting(ComObject* self, ICoreWebView2NavigationStartingEventHandler* handler,
                                                EventRegistrationToken* token) {
  Log(L"WebView.add_NavigationStarting");
  return Register(From(self), &From(self)->navigationStarting, handler, token);
}

HRESULT STDMETHODCALLTYPE AddWebMessageReceived(ComObject* self, ICoreWebView2WebMessageReceivedEventHandler* handler,
                                                EventRegistrationToken* token) {
  Log(L"WebView.add_WebMessageReceived");
  return Register(From(self), &From(self)->webMessageReceived, handler, token);
}

HRESULT STDMETHODCALLTYPE AddNewWindowRequested(ComObject* self, ICoreWebView2NewWindowRequestedEventHandler* handler,
                                                EventRegistrationToken* token) {
  Log(L"WebView.add_NewWindowRequested");
  return Register(From(self), &From(self)->newWindowRequested, handler, token);
}

HRESULT STDMETHODCALLTYPE AddDocumentScript(ComObject* self, LPCWSTR javaScript,
                                            ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) {
  const std::wstring script = javaScript ? javaScript : L"";
  Log(L"WebView.AddScriptToExecuteOnDocumentCreated " + script);
  WebView* view = From(self);
  if (view->closed) return ClosedError;
  if (!javaScript) return E_INVALIDARG;
  if (handler) handler->AddRef();
  if (view->navigationsInFlight > 0) {
    Log(L"WebView.script held for the next document");
    view->heldScripts.push_back({Utf8(script), handler});
    return S_OK;
  }
  SendDocumentScript(view, Utf8(script), handler);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ExecuteScript(ComObject* self, LPCWSTR javaScript,
                                        ICoreWebView2ExecuteScriptCompletedHandler* handler) {
  const std::wstring script = javaScript ? javaScript : L"";
  Log(L"WebView.ExecuteScript " + script);
  WebView* view = From(self);
  if (view->closed) return ClosedError;
  if (!javaScript) return E_INVALIDARG;
  if (handler) handler->AddRef();
  HoldObject(self);
  const Json evaluate = {{"expression", Utf8(script)}, {"returnByValue", true}, {"awaitPromise", false}};
  SendCommand("Runtime.evaluate", evaluate, view->session, [view, handler](const Json& result, const Json& error) {
    const std::wstring json = ScriptResultJson(result, error);
    Deliver([view, handler, json] {
      // After Close nothing more reaches the client.
      if (handler && !view->closed) {
        Log(L"ExecuteScript.result " + json);
        handler->Invoke(S_OK, json.c_str());
      }
      if (handler) Log(L"ExecuteScriptCompletedHandler.Release " + std::to_wstring(handler->Release()));
      DropObject(&view->com);
    });
  });
  return S_OK;
}

const Vtable& WebViewVtable() {
  static const Vtable table = [] {
    Vtable t = SparseVtable();
    FILL_SLOT(t, 3, ICoreWebView2, get_Settings, GetSettings);
    FILL_SLOT(t, 5, ICoreWebView2, Navigate, Navigate);
    FILL_SLOT(t, 7, ICoreWebView2, add_NavigationStarting, AddNavigationStarting);
    FILL_SLOT(t, 25, ICoreWebView2, add_ProcessFailed, AddProcessFailed);
    FILL_SLOT(t, 27, ICoreWebView2, AddScriptToExecuteOnDocumentCreated, AddDocumentScript);
    FILL_SLOT(t, 29, ICoreWebView2, ExecuteScript, ExecuteScript);
    FILL_SLOT(t, 31, ICoreWebView2, Reload, Reload);
    FILL_SLOT(t, 34, ICoreWebView2, add_WebMessageReceived, AddWebMessageReceived);
    FILL_SLOT(t, 37, ICoreWebView2, get_BrowserProcessId, GetBrowserProcessId);
    FILL_SLOT(t, 44, ICoreWebView2, add_NewWindowRequested, AddNewWindowRequested);
    return t;
  }();
  return table;
}

}  // namespace

void PreparePageSession(const std::string& session, const RECT& bounds, std::function<void(bool)> done) {
  struct Progress {
    int left;
    bool failed = false;
    std::function<void(bool)> done;
  };
  const std::vector<std::pair<const char*, Json>> commands = {
      {"Page.enable", Json::object()},
      {"Runtime.enable", Json::object()},
      {"Runtime.addBinding", {{"name", BindingName}}},
      {"Page.addScriptToEvaluateOnNewDocument", {{"source", BindingScript}}},
      {"Emulation.setFocusEmulationEnabled", {{"enabled", true}}},
      {"Emulation.setDeviceMetricsOverride",
       {{"width", bounds.right - bounds.left > 0 ? bounds.right - bounds.left : 1},
        {"height", bounds.bottom - bounds.top > 0 ? bounds.bottom - bounds.top : 1},
        {"deviceScaleFactor", 1},
        {"mobile", false}}},
      {"Runtime.runIfWaitingForDebugger", Json::object()},
  };
  // A crashed renderer is told by this domain; a browser without it still
  // serves the page.
  SendCommand("Inspector.enable", Json::object(), session);
  auto progress = std::make_shared<Progress>();
  progress->left = static_cast<int>(commands.size());
  progress->done = std::move(done);
  // Replies come in order; the last one says the target runs.
  for (const auto& command : commands) {
    SendCommand(command.first, command.second, session, [progress](const Json&, const Json& error) {
      if (!error.is_null()) progress->failed = true;
      if (--progress->left > 0) return;
      const bool ok = !progress->failed;
      Deliver([progress, ok] { progress->done(ok); });
    });
  }
}

WebView* CreateWebView(HWND parent, const RECT& bounds, const std::string& target, const std::string& session) {
  PageWindow* page = CreatePageWindow(parent, bounds, session, std::wstring());
  if (!page) return nullptr;
  auto* view = new WebView;
  InitObject(&view->com, WebViewVtable(), L"WebView", IID_ICoreWebView2, DestroyWebView);
  for (BOOL& value : view->settings) value = TRUE;  // the runtime's defaults
  view->target = target;
  view->session = session;
  view->page = page;
  view->browserPid = BrowserPid();
  HoldBrowser();
  HoldObject(&view->com);  // the routes' reference, until the view shuts down
  RoutePageSession(session, [view](const std::string& method, const Json& params) { OnPageEvent(view, method, params); });
  RoutePopupsOf(target, [view](const std::string& popupSession, const std::string& popupTarget) {
    OnNewTarget(view, popupSession, popupTarget);
  });
  OnTargetGone(target, [view](bool browserEnded) {
    Log(L"WebView.target gone");
    // Nobody asked the browser to end while this view was open: the client
    // hears of it before the view shuts down.
    HoldObject(&view->com);
    if (browserEnded && !view->closed) RaiseProcessFailed(view, COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED);
    ShutdownWebView(view);
    DropObject(&view->com);
  });
  // The runtime's default: visible.
  SetPageVisible(page, true);
  StartProbing(view);
  return view;
}

void ShutdownWebView(WebView* view) {
  if (view->closed) return;
  view->closed = true;
  ProbedViews.erase(std::remove(ProbedViews.begin(), ProbedViews.end(), view), ProbedViews.end());
  UnroutePageSession(view->session);
  UnroutePopupsOf(view->target);
  ForgetTarget(view->target);
  ClosePopups(view);
  DestroyPageWindow(view->page);
  view->page = nullptr;
  SendCommand("Target.closeTarget", {{"targetId", view->target}});
  Log(L"WebView.closed target " + Wide(view->target));
  ReleaseRegistrations(&view->navigationStarting, L"NavigationStartingHandler");
  ReleaseRegistrations(&view->newWindowRequested, L"NewWindowRequestedHandler");
  ReleaseRegistrations(&view->webMessageReceived, L"WebMessageReceivedHandler");
  ReleaseRegistrations(&view->processFailed, L"ProcessFailedHandler");
  DropHeldScripts(view);
  ReleaseBrowser();
  DropObject(&view->com);
}

bool InsideProcessFailedHandler() { return ProcessFailedDepth > 0; }

ICoreWebView2* WebViewInterface(WebView* view) { return AsInterface<ICoreWebView2>(&view->com); }

const wchar_t* SettingName(Setting setting) { return SettingNames[setting]; }

void ApplySetting(WebView* view, Setting setting, BOOL value) {
  const BOOL previous = view->settings[setting];
  view->settings[setting] = value ? TRUE : FALSE;
  if (view->closed || previous == view->settings[setting]) return;
  switch (setting) {
    case IsScriptEnabled:
      SendSettingCommand(view, "Emulation.setScriptExecutionDisabled", {{"value", !value}});
      break;
    case IsWebMessageEnabled:
      // Without the binding the next documents get no window.chrome.webview.
      SendSettingCommand(view, value ? "Runtime.addBinding" : "Runtime.removeBinding", {{"name", BindingName}});
      break;
    case IsZoomControlEnabled:
      SetPageZoomControl(view->page, value != FALSE);
      break;
    case IsBuiltInErrorPageEnabled:
      SetPageBlank(view->page, view->errorDocument && !value);
      break;
    default:
      // Dialogs are decided when one opens; the headless browser has no
      // status bar, context menu or developer tools window to switch.
      break;
  }
}
