// The runtime's ICoreWebView2Controller and the making of one: a new page
// target, prepared before it runs a script, shown in the client's window.
#include "controller.h"
#include <memory>
#include "browser.h"
#include "call_log.h"
#include "page_window.h"
#include "web_view.h"

namespace {

struct Controller {
  ComObject com;
  WebView* view;  // referenced
};

WebView* ViewOf(ComObject* self) { return reinterpret_cast<Controller*>(self)->view; }

// The last reference closes the view implicitly, as the runtime does.
void DestroyController(ComObject* self) {
  auto* controller = reinterpret_cast<Controller*>(self);
  ShutdownWebView(controller->view);
  DropObject(&controller->view->com);
  delete controller;
}

HRESULT STDMETHODCALLTYPE PutIsVisible(ComObject* self, BOOL visible) {
  Log(L"Controller.put_IsVisible " + FlagText(visible));
  WebView* view = ViewOf(self);
  if (view->closed) return ClosedError;
  SetPageVisible(view->page, visible != FALSE);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE PutBounds(ComObject* self, RECT bounds) {
  Log(L"Controller.put_Bounds " + std::to_wstring(bounds.left) + L" " + std::to_wstring(bounds.top) + L" " +
      std::to_wstring(bounds.right) + L" " + std::to_wstring(bounds.bottom));
  WebView* view = ViewOf(self);
  if (view->closed) return ClosedError;
  SetPageBounds(view->page, bounds);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE PutParentWindow(ComObject* self, HWND parent) {
  Log(L"Controller.put_ParentWindow");
  WebView* view = ViewOf(self);
  if (view->closed) return ClosedError;
  if (!IsWindow(parent)) return E_INVALIDARG;
  SetPageParent(view->page, parent);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Close(ComObject* self) {
  Log(L"Controller.Close");
  WebView* view = ViewOf(self);
  if (view->closed) return ClosedError;
  ShutdownWebView(view);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE GetCoreWebView2(ComObject* self, ICoreWebView2** out) {
  Log(L"Controller.get_CoreWebView2");
  if (!out) return E_POINTER;
  *out = nullptr;
  WebView* view = ViewOf(self);
  if (view->closed) return ClosedError;
  HoldObject(&view->com);
  *out = WebViewInterface(view);
  return S_OK;
}

const Vtable& ControllerVtable() {
  static const Vtable table = [] {
    Vtable t = SparseVtable();
    FILL_SLOT(t, 4, ICoreWebView2Controller, put_IsVisible, PutIsVisible);
    FILL_SLOT(t, 6, ICoreWebView2Controller, put_Bounds, PutBounds);
    FILL_SLOT(t, 22, ICoreWebView2Controller, put_ParentWindow, PutParentWindow);
    FILL_SLOT(t, 24, ICoreWebView2Controller, Close, Close);
    FILL_SLOT(t, 25, ICoreWebView2Controller, get_CoreWebView2, GetCoreWebView2);
    return t;
  }();
  return table;
}

ComObject* CreateControllerObject(WebView* view) {
  auto* controller = new Controller;
  InitObject(&controller->com, ControllerVtable(), L"Controller", IID_ICoreWebView2Controller, DestroyController);
  controller->view = view;  // takes the caller's reference
  return &controller->com;
}

void Complete(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler, HRESULT result,
              ComObject* controller) {
  Log(L"ControllerCompletedHandler.Invoke " + ResultText(result));
  handler->Invoke(result, controller ? AsInterface<ICoreWebView2Controller>(controller) : nullptr);
  Log(L"ControllerCompletedHandler.Release " + std::to_wstring(handler->Release()));
  // Ours only; the client holds its own reference if it kept the controller.
  if (controller) DropObject(controller);
  ReleaseBrowser();
}

}  // namespace

void StartController(HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) {
  handler->AddRef();
  HoldBrowser();
  CreatePageTarget([parent, handler](const std::string& target, const std::string& session) {
    if (target.empty()) {
      Complete(handler, E_FAIL, nullptr);
      return;
    }
    RECT bounds = {};
    GetClientRect(parent, &bounds);
    PreparePageSession(session, bounds, [parent, handler, target, session, bounds](bool prepared) {
      WebView* view = prepared && IsWindow(parent) ? CreateWebView(parent, bounds, target, session) : nullptr;
      if (!view) {
        SendCommand("Target.closeTarget", {{"targetId", target}});
        Complete(handler, prepared ? HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE) : E_FAIL, nullptr);
        return;
      }
      Complete(handler, S_OK, CreateControllerObject(view));
    });
  });
}
