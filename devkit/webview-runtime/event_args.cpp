// Event arguments the runtime hands to the client's handlers. Out strings are
// CoTaskMemAlloc copies that the client frees.
#include "call_log.h"
#include "web_view.h"

namespace {

struct TextArgs {
  ComObject com;
  std::wstring text;  // the address, or the message as the page posted it (JSON)
};

void DestroyTextArgs(ComObject* self) { delete reinterpret_cast<TextArgs*>(self); }

ComObject* CreateTextArgs(const Vtable& vtable, const wchar_t* name, const IID& iid, const std::wstring& text) {
  auto* args = new TextArgs;
  InitObject(&args->com, vtable, name, iid, DestroyTextArgs);
  args->text = text;
  return &args->com;
}

HRESULT STDMETHODCALLTYPE GetUri(ComObject* self, LPWSTR* uri) {
  Log(L"NavigationStartingArgs.get_Uri");
  return CopyOut(reinterpret_cast<TextArgs*>(self)->text, uri);
}

// Text only for a message that was a string; anything else the page posted
// (an object, a number) has no string form.
HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(ComObject* self, LPWSTR* value) {
  Log(L"WebMessageArgs.TryGetWebMessageAsString");
  if (!value) return E_POINTER;
  *value = nullptr;
  const Json message = Json::parse(Utf8(reinterpret_cast<TextArgs*>(self)->text), nullptr, false);
  if (!message.is_string()) return E_INVALIDARG;
  return CopyOut(Wide(message.get<std::string>()), value);
}

}  // namespace

ComObject* CreateNavigationStartingArgs(const std::wstring& uri) {
  static const Vtable table = [] {
    Vtable t = SparseVtable();
    FILL_SLOT(t, 3, ICoreWebView2NavigationStartingEventArgs, get_Uri, GetUri);
    return t;
  }();
  return CreateTextArgs(table, L"NavigationStartingArgs", IID_ICoreWebView2NavigationStartingEventArgs, uri);
}

// The client only looks at the event; its default handling is the runtime's.
ComObject* CreateNewWindowRequestedArgs(const std::wstring& uri) {
  static const Vtable table = SparseVtable();
  return CreateTextArgs(table, L"NewWindowRequestedArgs", IID_ICoreWebView2NewWindowRequestedEventArgs, uri);
}

ComObject* CreateWebMessageArgs(const std::string& payload) {
  static const Vtable table = [] {
    Vtable t = SparseVtable();
    FILL_SLOT(t, 5, ICoreWebView2WebMessageReceivedEventArgs, TryGetWebMessageAsString, TryGetWebMessageAsString);
    return t;
  }();
  return CreateTextArgs(table, L"WebMessageArgs", IID_ICoreWebView2WebMessageReceivedEventArgs, Wide(payload));
}

namespace {

struct KindArgs {
  ComObject com;
  COREWEBVIEW2_PROCESS_FAILED_KIND kind;
};

void DestroyKindArgs(ComObject* self) { delete reinterpret_cast<KindArgs*>(self); }

HRESULT STDMETHODCALLTYPE GetProcessFailedKind(ComObject* self, COREWEBVIEW2_PROCESS_FAILED_KIND* kind) {
  Log(L"ProcessFailedArgs.get_ProcessFailedKind");
  if (!kind) return E_POINTER;
  *kind = reinterpret_cast<KindArgs*>(self)->kind;
  return S_OK;
}

}  // namespace

ComObject* CreateProcessFailedArgs(COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
  static const Vtable table = [] {
    Vtable t = SparseVtable();
    FILL_SLOT(t, 3, ICoreWebView2ProcessFailedEventArgs, get_ProcessFailedKind, GetProcessFailedKind);
    return t;
  }();
  auto* args = new KindArgs;
  InitObject(&args->com, table, L"ProcessFailedArgs", IID_ICoreWebView2ProcessFailedEventArgs, DestroyKindArgs);
  args->kind = kind;
  return &args->com;
}

namespace {

struct ExitArgs {
  ComObject com;
  COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND kind;
  UINT32 pid;
};

void DestroyExitArgs(ComObject* self) { delete reinterpret_cast<ExitArgs*>(self); }

HRESULT STDMETHODCALLTYPE GetBrowserProcessExitKind(ComObject* self, COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND* kind) {
  Log(L"BrowserProcessExitedArgs.get_BrowserProcessExitKind");
  if (!kind) return E_POINTER;
  *kind = reinterpret_cast<ExitArgs*>(self)->kind;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE GetExitedBrowserProcessId(ComObject* self, UINT32* pid) {
  Log(L"BrowserProcessExitedArgs.get_BrowserProcessId");
  if (!pid) return E_POINTER;
  *pid = reinterpret_cast<ExitArgs*>(self)->pid;
  return S_OK;
}

}  // namespace

ComObject* CreateBrowserProcessExitedArgs(COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND kind, unsigned long pid) {
  static const Vtable table = [] {
    Vtable t = SparseVtable();
    FILL_SLOT(t, 3, ICoreWebView2BrowserProcessExitedEventArgs, get_BrowserProcessExitKind, GetBrowserProcessExitKind);
    FILL_SLOT(t, 4, ICoreWebView2BrowserProcessExitedEventArgs, get_BrowserProcessId, GetExitedBrowserProcessId);
    return t;
  }();
  auto* args = new ExitArgs;
  InitObject(&args->com, table, L"BrowserProcessExitedArgs", IID_ICoreWebView2BrowserProcessExitedEventArgs,
             DestroyExitArgs);
  args->kind = kind;
  args->pid = static_cast<UINT32>(pid);
  return &args->com;
}
