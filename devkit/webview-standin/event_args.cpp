// Event arguments for NavigationStarting, NewWindowRequested and
// WebMessageReceived. Out strings are CoTaskMemAlloc copies the client frees.
#include <new>
#include "web_view.h"

namespace {

#define NOT_IMPLEMENTED(object, name)                              \
  {                                                                \
    Log(L"" object L"." #name L" (stand-in: not implemented)");    \
    return E_NOTIMPL;                                              \
  }

#define COUNTED(Interface)                                                       \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {    \
    return AnswerQuery(this, IID_##Interface, iid, out);                         \
  }                                                                              \
  ULONG STDMETHODCALLTYPE AddRef() override { return ChangeCount(&count_, 1); }  \
  ULONG STDMETHODCALLTYPE Release() override {                                   \
    ULONG count = ChangeCount(&count_, -1);                                      \
    if (count == 0) delete this;                                                 \
    return count;                                                                \
  }

class NavigationStartingArgs final : public ICoreWebView2NavigationStartingEventArgs {
 public:
  explicit NavigationStartingArgs(const std::wstring& uri) : uri_(uri) {}
  BOOL cancel = FALSE;

  COUNTED(ICoreWebView2NavigationStartingEventArgs)
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
    Log(L"NavigationStartingArgs.get_Uri");
    return CopyOut(uri_, uri);
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override { return Flag(FALSE, value); }
  HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* value) override { return Flag(FALSE, value); }
  HRESULT STDMETHODCALLTYPE get_RequestHeaders(ICoreWebView2HttpRequestHeaders**) override
      NOT_IMPLEMENTED("NavigationStartingArgs", get_RequestHeaders)
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* value) override { return Flag(cancel, value); }
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL value) override {
    Log(L"NavigationStartingArgs.put_Cancel " + FlagText(value));
    cancel = value ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* value) override {
    if (!value) return E_POINTER;
    *value = 1;
    return S_OK;
  }

 private:
  ~NavigationStartingArgs() = default;
  static HRESULT Flag(BOOL value, BOOL* out) {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
  }
  volatile LONG count_ = 1;
  std::wstring uri_;
};

// Minimal: the address and the Handled flag; no window or deferral to offer.
class NewWindowRequestedArgs final : public ICoreWebView2NewWindowRequestedEventArgs {
 public:
  explicit NewWindowRequestedArgs(const std::wstring& uri) : uri_(uri) {}
  BOOL handled = FALSE;

  COUNTED(ICoreWebView2NewWindowRequestedEventArgs)
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
    Log(L"NewWindowRequestedArgs.get_Uri");
    return CopyOut(uri_, uri);
  }
  HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2*) override
      NOT_IMPLEMENTED("NewWindowRequestedArgs", put_NewWindow)
  HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2** window) override {
    if (!window) return E_POINTER;
    *window = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL value) override {
    Log(L"NewWindowRequestedArgs.put_Handled " + FlagText(value));
    handled = value ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Handled(BOOL* value) override {
    if (!value) return E_POINTER;
    *value = handled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override {
    if (!value) return E_POINTER;
    *value = FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral**) override
      NOT_IMPLEMENTED("NewWindowRequestedArgs", GetDeferral)
  HRESULT STDMETHODCALLTYPE get_WindowFeatures(ICoreWebView2WindowFeatures**) override
      NOT_IMPLEMENTED("NewWindowRequestedArgs", get_WindowFeatures)

 private:
  ~NewWindowRequestedArgs() = default;
  volatile LONG count_ = 1;
  std::wstring uri_;
};

// The message is always a string here: the only poster is the document
// script that sends the address.
class WebMessageArgs final : public ICoreWebView2WebMessageReceivedEventArgs {
 public:
  WebMessageArgs(const std::wstring& source, const std::wstring& message) : source_(source), message_(message) {}

  COUNTED(ICoreWebView2WebMessageReceivedEventArgs)
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* value) override {
    Log(L"WebMessageArgs.get_Source");
    return CopyOut(source_, value);
  }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* value) override {
    Log(L"WebMessageArgs.get_WebMessageAsJson");
    std::wstring json = L"\"";
    for (wchar_t c : message_) {
      if (c == L'"' || c == L'\\') json += L'\\';
      json += c;
    }
    return CopyOut(json + L"\"", value);
  }
  HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* value) override {
    Log(L"WebMessageArgs.TryGetWebMessageAsString");
    return CopyOut(message_, value);
  }

 private:
  ~WebMessageArgs() = default;
  volatile LONG count_ = 1;
  std::wstring source_;
  std::wstring message_;
};

}  // namespace

ICoreWebView2NavigationStartingEventArgs* CreateNavigationStartingArgs(const std::wstring& uri, BOOL** cancel) {
  auto* args = new (std::nothrow) NavigationStartingArgs(uri);
  if (args) *cancel = &args->cancel;
  return args;
}

ICoreWebView2NewWindowRequestedEventArgs* CreateNewWindowRequestedArgs(const std::wstring& uri, BOOL** handled) {
  auto* args = new (std::nothrow) NewWindowRequestedArgs(uri);
  if (args) *handled = &args->handled;
  return args;
}

ICoreWebView2WebMessageReceivedEventArgs* CreateWebMessageArgs(const std::wstring& source,
                                                               const std::wstring& message) {
  return new (std::nothrow) WebMessageArgs(source, message);
}
