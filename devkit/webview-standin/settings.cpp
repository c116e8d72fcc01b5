// The stand-in's ICoreWebView2Settings: a view onto its WebView's values,
// which it keeps alive while the client holds it.
#include <new>
#include "web_view.h"

namespace {

class Settings final : public ICoreWebView2Settings {
 public:
  explicit Settings(WebView* view) : view_(view) { view_->Hold(); }
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return AnswerQuery(this, IID_ICoreWebView2Settings, iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ChangeCount(&count_, 1); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG count = ChangeCount(&count_, -1);
    Log(L"Settings.Release " + std::to_wstring(count));
    if (count == 0) delete this;
    return count;
  }

#define SETTING(Name)                                                 \
  HRESULT STDMETHODCALLTYPE get_##Name(BOOL* value) override {        \
    Log(L"Settings.get_" #Name);                                      \
    if (!value) return E_POINTER;                                     \
    *value = view_->settings[WebView::Name];                          \
    return S_OK;                                                      \
  }                                                                   \
  HRESULT STDMETHODCALLTYPE put_##Name(BOOL value) override {         \
    Log(L"Settings.put_" #Name L" " + FlagText(value));               \
    if (view_->Closed()) return ClosedError;                          \
    view_->settings[WebView::Name] = value ? TRUE : FALSE;            \
    return S_OK;                                                      \
  }

  SETTING(IsScriptEnabled)
  SETTING(IsWebMessageEnabled)
  SETTING(AreDefaultScriptDialogsEnabled)
  SETTING(IsStatusBarEnabled)
  SETTING(AreDevToolsEnabled)
  SETTING(AreDefaultContextMenusEnabled)
  SETTING(AreHostObjectsAllowed)
  SETTING(IsZoomControlEnabled)
  SETTING(IsBuiltInErrorPageEnabled)
#undef SETTING

 private:
  ~Settings() { view_->Drop(); }

  volatile LONG count_ = 1;
  WebView* view_;
};

}  // namespace

ICoreWebView2Settings* CreateSettings(WebView* view) { return new (std::nothrow) Settings(view); }
