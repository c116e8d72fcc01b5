// The runtime's ICoreWebView2Settings: each put_ the client calls changes the
// view's setting, with its effect where the browser has one.
#include "call_log.h"
#include "web_view.h"

namespace {

struct Settings {
  ComObject com;
  WebView* view;  // referenced
};

void DestroySettings(ComObject* self) {
  auto* settings = reinterpret_cast<Settings*>(self);
  DropObject(&settings->view->com);
  delete settings;
}

template <Setting Which>
HRESULT STDMETHODCALLTYPE PutSetting(ComObject* self, BOOL value) {
  WebView* view = reinterpret_cast<Settings*>(self)->view;
  Log(std::wstring(L"Settings.put_") + SettingName(Which) + L" " + FlagText(value));
  if (view->closed) return ClosedError;
  ApplySetting(view, Which, value);
  return S_OK;
}

// Every put_ follows its get_: slot 4 + 2 * setting.
const Vtable& SettingsVtable() {
  static const Vtable table = [] {
    Vtable t = SparseVtable();
    FILL_SLOT(t, 4, ICoreWebView2Settings, put_IsScriptEnabled, PutSetting<IsScriptEnabled>);
    FILL_SLOT(t, 6, ICoreWebView2Settings, put_IsWebMessageEnabled, PutSetting<IsWebMessageEnabled>);
    FILL_SLOT(t, 8, ICoreWebView2Settings, put_AreDefaultScriptDialogsEnabled, PutSetting<AreDefaultScriptDialogsEnabled>);
    FILL_SLOT(t, 10, ICoreWebView2Settings, put_IsStatusBarEnabled, PutSetting<IsStatusBarEnabled>);
    FILL_SLOT(t, 12, ICoreWebView2Settings, put_AreDevToolsEnabled, PutSetting<AreDevToolsEnabled>);
    FILL_SLOT(t, 14, ICoreWebView2Settings, put_AreDefaultContextMenusEnabled, PutSetting<AreDefaultContextMenusEnabled>);
    FILL_SLOT(t, 18, ICoreWebView2Settings, put_IsZoomControlEnabled, PutSetting<IsZoomControlEnabled>);
    FILL_SLOT(t, 20, ICoreWebView2Settings, put_IsBuiltInErrorPageEnabled, PutSetting<IsBuiltInErrorPageEnabled>);
    return t;
  }();
  return table;
}

}  // namespace

ComObject* CreateSettings(WebView* view) {
  auto* settings = new Settings;
  InitObject(&settings->com, SettingsVtable(), L"Settings", IID_ICoreWebView2Settings, DestroySettings);
  HoldObject(&view->com);
  settings->view = view;
  return &settings->com;
}
