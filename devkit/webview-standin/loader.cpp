// Development stand-in for WebView2Loader.dll (no page rendering, no script engine); never shipped.
// The loader entry point and the environment it delivers.
#include <new>
#include "standin.h"

namespace {

// NORV_WEBVIEW_FAIL=environment or =controller makes that step fail.
bool ShouldFail(const wchar_t* step) {
  wchar_t value[32] = {};
  DWORD length = GetEnvironmentVariableW(L"NORV_WEBVIEW_FAIL", value, 32);
  return length > 0 && length < 32 && lstrcmpiW(value, step) == 0;
}

class Environment final : public ICoreWebView2Environment {
 public:
  Environment() = default;
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return AnswerQuery(this, IID_ICoreWebView2Environment, iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ChangeCount(&count_, 1); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG count = ChangeCount(&count_, -1);
    if (count == 0) delete this;
    return count;
  }

  HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
      HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) override {
    Log(L"Environment.CreateCoreWebView2Controller");
    if (!handler) return E_INVALIDARG;
    handler->AddRef();
    Later([parent, handler] {
      HRESULT result = E_FAIL;
      ICoreWebView2Controller* controller = nullptr;
      if (!ShouldFail(L"controller")) {
        controller = IsWindow(parent) ? CreateController(parent) : nullptr;
        result = controller ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
      }
      handler->Invoke(result, controller);
      // Ours only; the client holds its own reference if it kept the controller.
      if (controller) DropController(controller);
      handler->Release();
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateWebResourceResponse(IStream*, int, LPCWSTR, LPCWSTR,
                                                      ICoreWebView2WebResourceResponse**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* version) override {
    return CopyOut(L"0.0.0.0 (development stand-in)", version);
  }
  HRESULT STDMETHODCALLTYPE add_NewBrowserVersionAvailable(ICoreWebView2NewBrowserVersionAvailableEventHandler*,
                                                           EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_NewBrowserVersionAvailable(EventRegistrationToken) override { return E_NOTIMPL; }

 private:
  ~Environment() = default;
  volatile LONG count_ = 1;
};

std::wstring TextOrNull(PCWSTR text) { return text ? std::wstring(text) : std::wstring(L"null"); }

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  Log(L"CreateCoreWebView2EnvironmentWithOptions browserFolder=" + TextOrNull(browserFolder) +
      L" userDataFolder=" + TextOrNull(userDataFolder) + L" options=" + (options ? L"set" : L"null"));
  if (!handler) return E_POINTER;
  // The runtime refuses a thread outside a single-threaded apartment; so do
  // we, so that the fault shows here rather than on a user's machine.
  APTTYPE apartment;
  APTTYPEQUALIFIER qualifier;
  HRESULT result = CoGetApartmentType(&apartment, &qualifier);
  if (SUCCEEDED(result) && apartment != APTTYPE_STA && apartment != APTTYPE_MAINSTA) result = RPC_E_CHANGED_MODE;
  if (FAILED(result)) {
    wchar_t code[16] = {};
    _snwprintf(code, 15, L"0x%08lX", static_cast<unsigned long>(result));
    Log(std::wstring(L"CreateCoreWebView2EnvironmentWithOptions.failed ") + code);
    return result;
  }
  handler->AddRef();
  Later([handler] {
    bool fail = ShouldFail(L"environment");
    Environment* environment = fail ? nullptr : new (std::nothrow) Environment;
    handler->Invoke(environment ? S_OK : E_FAIL, environment);
    if (environment) environment->Release();
    handler->Release();
  });
  return S_OK;
}
