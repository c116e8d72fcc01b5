// The stand-in's ICoreWebView2. Events and completions are delivered through
// the message loop; calls after Controller.Close fail as the runtime's do.
#include "web_view.h"

#define NOT_IMPLEMENTED(name)                                    \
  {                                                              \
    Log(L"WebView." #name L" (stand-in: not implemented)");      \
    return E_NOTIMPL;                                            \
  }

namespace {

// The client's second document script posts the document's address; the
// stand-in cannot run scripts, so it recognises that one and does its work.
constexpr wchar_t PostAddressCall[] = L"window.chrome.webview.postMessage(window.document.URL)";
constexpr wchar_t WindowOpenCall[] = L"window.open('";

// Holds a reference on each handler for the duration of a dispatch, so one
// that unregisters itself (or Close) cannot free the others under us.
template <class Handler>
std::vector<Handler*> Snapshot(const std::vector<std::pair<INT64, Handler*>>& list) {
  std::vector<Handler*> handlers;
  for (const auto& entry : list) {
    entry.second->AddRef();
    handlers.push_back(entry.second);
  }
  return handlers;
}

}  // namespace

WebView::WebView(HWND parent) {
  for (auto& value : settings) value = TRUE;  // the runtime's defaults
  window_ = CreatePageWindow(parent);
  Repaint();
}

WebView::~WebView() {
  ReleaseHandlers();
  if (window_ && IsWindow(window_)) DestroyWindow(window_);
}

void WebView::Drop() {
  if (ChangeCount(&count_, -1) == 0) delete this;
}

void WebView::Shutdown() {
  closed_ = true;
  ReleaseHandlers();
  if (window_ && IsWindow(window_)) DestroyWindow(window_);
  window_ = nullptr;
}

void WebView::ReleaseHandlers() {
  auto release = [](auto& list) {
    auto taken = std::move(list);
    list.clear();
    for (auto& entry : taken) entry.second->Release();
  };
  release(navigationStarting_);
  release(newWindowRequested_);
  release(webMessageReceived_);
}

void WebView::Repaint() {
  // The parent may have destroyed our window with itself.
  if (window_ && !IsWindow(window_)) window_ = nullptr;
  ShowPageState(window_, address_, switch_);
}

HRESULT STDMETHODCALLTYPE WebView::QueryInterface(REFIID iid, void** out) {
  return AnswerQuery(this, IID_ICoreWebView2, iid, out);
}

ULONG STDMETHODCALLTYPE WebView::AddRef() { return ChangeCount(&count_, 1); }

ULONG STDMETHODCALLTYPE WebView::Release() {
  ULONG count = ChangeCount(&count_, -1);
  Log(L"WebView.Release " + std::to_wstring(count));
  if (count == 0) delete this;
  return count;
}

HRESULT STDMETHODCALLTYPE WebView::get_Settings(ICoreWebView2Settings** out) {
  Log(L"WebView.get_Settings");
  if (!out) return E_POINTER;
  *out = nullptr;
  if (closed_) return ClosedError;
  *out = CreateSettings(this);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE WebView::get_Source(LPWSTR* uri) {
  Log(L"WebView.get_Source");
  if (closed_) return ClosedError;
  return CopyOut(address_.empty() ? L"about:blank" : address_, uri);
}

HRESULT STDMETHODCALLTYPE WebView::Navigate(LPCWSTR uri) {
  std::wstring address = uri ? uri : L"";
  Log(L"WebView.Navigate " + address);
  if (closed_) return ClosedError;
  if (address.empty()) return E_INVALIDARG;
  Hold();
  Later([this, address] {
    if (!closed_) StartDocument(address);
    Drop();
  });
  return S_OK;
}

// A navigation: NavigationStarting to every handler; unless one cancels, the
// new document runs the document scripts, which is where the address comes
// back as a web message.
void WebView::StartDocument(const std::wstring& address) {
  bool cancelled = false;
  for (auto* handler : Snapshot(navigationStarting_)) {
    BOOL* cancel = nullptr;
    ICoreWebView2NavigationStartingEventArgs* args = CreateNavigationStartingArgs(address, &cancel);
    if (args) {
      Log(L"NavigationStarting " + address);
      handler->Invoke(this, args);
      cancelled = cancelled || *cancel;
      args->Release();
    }
    handler->Release();
  }
  if (cancelled || closed_) return;
  address_ = address;
  switch_ = SwitchState::Unknown;
  Repaint();

  bool postsAddress = false;
  for (const auto& script : documentScripts_)
    postsAddress = postsAddress || script.find(PostAddressCall) != std::wstring::npos;
  if (!postsAddress || !settings[IsWebMessageEnabled] || !settings[IsScriptEnabled]) return;
  for (auto* handler : Snapshot(webMessageReceived_)) {
    ICoreWebView2WebMessageReceivedEventArgs* args = CreateWebMessageArgs(address, address);
    if (args) {
      Log(L"WebMessageReceived " + address);
      handler->Invoke(this, args);
      args->Release();
    }
    handler->Release();
  }
}

void WebView::RequestNewWindow(const std::wstring& address) {
  bool handled = false;
  for (auto* handler : Snapshot(newWindowRequested_)) {
    BOOL* flag = nullptr;
    ICoreWebView2NewWindowRequestedEventArgs* args = CreateNewWindowRequestedArgs(address, &flag);
    if (args) {
      Log(L"NewWindowRequested " + address);
      handler->Invoke(this, args);
      handled = handled || *flag;
      args->Release();
    }
    handler->Release();
  }
  if (!handled) Log(L"NewWindowRequested.default " + address + L" (stand-in: no popup shown)");
}

HRESULT STDMETHODCALLTYPE WebView::NavigateToString(LPCWSTR) NOT_IMPLEMENTED(NavigateToString)

template <class Handler>
HRESULT WebView::Register(Registrations<Handler>& list, Handler* handler, EventRegistrationToken* token) {
  if (!handler || !token) return E_INVALIDARG;
  if (closed_) return ClosedError;
  handler->AddRef();
  token->value = nextToken_++;
  list.emplace_back(token->value, handler);
  return S_OK;
}

template <class Handler>
HRESULT WebView::Unregister(Registrations<Handler>& list, EventRegistrationToken token) {
  for (auto entry = list.begin(); entry != list.end(); ++entry) {
    if (entry->first == token.value) {
      Handler* handler = entry->second;
      list.erase(entry);
      handler->Release();
      break;
    }
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE WebView::add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* handler,
                                                          EventRegistrationToken* token) {
  Log(L"WebView.add_NavigationStarting");
  return Register(navigationStarting_, handler, token);
}

HRESULT STDMETHODCALLTYPE WebView::remove_NavigationStarting(EventRegistrationToken token) {
  Log(L"WebView.remove_NavigationStarting");
  return Unregister(navigationStarting_, token);
}

HRESULT STDMETHODCALLTYPE WebView::add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler* handler,
                                                          EventRegistrationToken* token) {
  Log(L"WebView.add_NewWindowRequested");
  return Register(newWindowRequested_, handler, token);
}

HRESULT STDMETHODCALLTYPE WebView::remove_NewWindowRequested(EventRegistrationToken token) {
  Log(L"WebView.remove_NewWindowRequested");
  return Unregister(newWindowRequested_, token);
}

HRESULT STDMETHODCALLTYPE WebView::add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* handler,
                                                          EventRegistrationToken* token) {
  Log(L"WebView.add_WebMessageReceived");
  return Register(webMessageReceived_, handler, token);
}

HRESULT STDMETHODCALLTYPE WebView::remove_WebMessageReceived(EventRegistrationToken token) {
  Log(L"WebView.remove_WebMessageReceived");
  return Unregister(webMessageReceived_, token);
}

HRESULT STDMETHODCALLTYPE WebView::AddScriptToExecuteOnDocumentCreated(
    LPCWSTR javaScript, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) {
  std::wstring script = javaScript ? javaScript : L"";
  Log(L"WebView.AddScriptToExecuteOnDocumentCreated " + script);
  if (closed_) return ClosedError;
  documentScripts_.push_back(script);
  if (handler) {
    std::wstring id = std::to_wstring(documentScripts_.size());
    handler->AddRef();
    Later([handler, id] {
      handler->Invoke(S_OK, id.c_str());
      handler->Release();
    });
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE WebView::RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) {
  Log(L"WebView.RemoveScriptToExecuteOnDocumentCreated " + std::wstring(id ? id : L""));
  size_t index = id ? wcstoul(id, nullptr, 10) : 0;
  // Ids stay valid: the slot is emptied, not erased.
  if (index >= 1 && index <= documentScripts_.size()) documentScripts_[index - 1].clear();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE WebView::ExecuteScript(LPCWSTR javaScript, ICoreWebView2ExecuteScriptCompletedHandler* handler) {
  std::wstring script = javaScript ? javaScript : L"";
  Log(L"WebView.ExecuteScript " + script);
  if (closed_) return ClosedError;
  if (handler) handler->AddRef();
  Hold();
  Later([this, handler, script] {
    if (!closed_) {
      std::wstring result = L"null";
      if (script.compare(0, wcslen(WindowOpenCall), WindowOpenCall) == 0) {
        size_t end = script.find(L'\'', wcslen(WindowOpenCall));
        RequestNewWindow(script.substr(wcslen(WindowOpenCall), end - wcslen(WindowOpenCall)));
      } else {
        result = RunScript(script, &switch_);
      }
      Log(L"ExecuteScript.result " + result);
      Repaint();
      if (handler) handler->Invoke(S_OK, result.c_str());
    }
    if (handler) handler->Release();
    Drop();
  });
  return S_OK;
}

HRESULT STDMETHODCALLTYPE WebView::add_ContentLoading(ICoreWebView2ContentLoadingEventHandler*,
                                                      EventRegistrationToken*) NOT_IMPLEMENTED(add_ContentLoading)
HRESULT STDMETHODCALLTYPE WebView::remove_ContentLoading(EventRegistrationToken) NOT_IMPLEMENTED(remove_ContentLoading)
HRESULT STDMETHODCALLTYPE WebView::add_SourceChanged(ICoreWebView2SourceChangedEventHandler*,
                                                     EventRegistrationToken*) NOT_IMPLEMENTED(add_SourceChanged)
HRESULT STDMETHODCALLTYPE WebView::remove_SourceChanged(EventRegistrationToken) NOT_IMPLEMENTED(remove_SourceChanged)
HRESULT STDMETHODCALLTYPE WebView::add_HistoryChanged(ICoreWebView2HistoryChangedEventHandler*,
                                                      EventRegistrationToken*) NOT_IMPLEMENTED(add_HistoryChanged)
HRESULT STDMETHODCALLTYPE WebView::remove_HistoryChanged(EventRegistrationToken) NOT_IMPLEMENTED(remove_HistoryChanged)
HRESULT STDMETHODCALLTYPE WebView::add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler*,
                                                           EventRegistrationToken*)
    NOT_IMPLEMENTED(add_NavigationCompleted)
HRESULT STDMETHODCALLTYPE WebView::remove_NavigationCompleted(EventRegistrationToken)
    NOT_IMPLEMENTED(remove_NavigationCompleted)
HRESULT STDMETHODCALLTYPE WebView::add_FrameNavigationStarting(ICoreWebView2NavigationStartingEventHandler*,
                                                               EventRegistrationToken*)
    NOT_IMPLEMENTED(add_FrameNavigationStarting)
HRESULT STDMETHODCALLTYPE WebView::remove_FrameNavigationStarting(EventRegistrationToken)
    NOT_IMPLEMENTED(remove_FrameNavigationStarting)
HRESULT STDMETHODCALLTYPE WebView::add_FrameNavigationCompleted(ICoreWebView2NavigationCompletedEventHandler*,
                                                                EventRegistrationToken*)
    NOT_IMPLEMENTED(add_FrameNavigationCompleted)
HRESULT STDMETHODCALLTYPE WebView::remove_FrameNavigationCompleted(EventRegistrationToken)
    NOT_IMPLEMENTED(remove_FrameNavigationCompleted)
HRESULT STDMETHODCALLTYPE WebView::add_ScriptDialogOpening(ICoreWebView2ScriptDialogOpeningEventHandler*,
                                                           EventRegistrationToken*)
    NOT_IMPLEMENTED(add_ScriptDialogOpening)
HRESULT STDMETHODCALLTYPE WebView::remove_ScriptDialogOpening(EventRegistrationToken)
    NOT_IMPLEMENTED(remove_ScriptDialogOpening)
HRESULT STDMETHODCALLTYPE WebView::add_PermissionRequested(ICoreWebView2PermissionRequestedEventHandler*,
                                                           EventRegistrationToken*)
    NOT_IMPLEMENTED(add_PermissionRequested)
HRESULT STDMETHODCALLTYPE WebView::remove_PermissionRequested(EventRegistrationToken)
    NOT_IMPLEMENTED(remove_PermissionRequested)
HRESULT STDMETHODCALLTYPE WebView::add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler*,
                                                     EventRegistrationToken*) NOT_IMPLEMENTED(add_ProcessFailed)
HRESULT STDMETHODCALLTYPE WebView::remove_ProcessFailed(EventRegistrationToken) NOT_IMPLEMENTED(remove_ProcessFailed)
HRESULT STDMETHODCALLTYPE WebView::CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT, IStream*,
                                                  ICoreWebView2CapturePreviewCompletedHandler*)
    NOT_IMPLEMENTED(CapturePreview)
HRESULT STDMETHODCALLTYPE WebView::Reload() NOT_IMPLEMENTED(Reload)
HRESULT STDMETHODCALLTYPE WebView::PostWebMessageAsJson(LPCWSTR) NOT_IMPLEMENTED(PostWebMessageAsJson)
HRESULT STDMETHODCALLTYPE WebView::PostWebMessageAsString(LPCWSTR) NOT_IMPLEMENTED(PostWebMessageAsString)
HRESULT STDMETHODCALLTYPE WebView::CallDevToolsProtocolMethod(LPCWSTR, LPCWSTR,
                                                              ICoreWebView2CallDevToolsProtocolMethodCompletedHandler*)
    NOT_IMPLEMENTED(CallDevToolsProtocolMethod)
HRESULT STDMETHODCALLTYPE WebView::get_BrowserProcessId(UINT32*) NOT_IMPLEMENTED(get_BrowserProcessId)
HRESULT STDMETHODCALLTYPE WebView::get_CanGoBack(BOOL*) NOT_IMPLEMENTED(get_CanGoBack)
HRESULT STDMETHODCALLTYPE WebView::get_CanGoForward(BOOL*) NOT_IMPLEMENTED(get_CanGoForward)
HRESULT STDMETHODCALLTYPE WebView::GoBack() NOT_IMPLEMENTED(GoBack)
HRESULT STDMETHODCALLTYPE WebView::GoForward() NOT_IMPLEMENTED(GoForward)
HRESULT STDMETHODCALLTYPE WebView::GetDevToolsProtocolEventReceiver(LPCWSTR,
                                                                    ICoreWebView2DevToolsProtocolEventReceiver**)
    NOT_IMPLEMENTED(GetDevToolsProtocolEventReceiver)
HRESULT STDMETHODCALLTYPE WebView::Stop() NOT_IMPLEMENTED(Stop)
