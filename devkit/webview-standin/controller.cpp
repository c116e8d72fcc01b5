// The stand-in's ICoreWebView2Controller: it places, shows and re-parents
// the page window, and Close shuts the view down.
#include <new>
#include "web_view.h"

namespace {

#define NOT_IMPLEMENTED(name)                                      \
  {                                                                \
    Log(L"Controller." #name L" (stand-in: not implemented)");     \
    return E_NOTIMPL;                                              \
  }

class Controller final : public ICoreWebView2Controller {
 public:
  explicit Controller(HWND parent) : view_(new (std::nothrow) WebView(parent)), parent_(parent) {}
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;
  bool Usable() const { return view_ && view_->Window(); }
  // The stand-in's own references; only the client's Release is logged.
  void Drop() {
    if (ChangeCount(&count_, -1) == 0) delete this;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return AnswerQuery(this, IID_ICoreWebView2Controller, iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ChangeCount(&count_, 1); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG count = ChangeCount(&count_, -1);
    Log(L"Controller.Release " + std::to_wstring(count));
    if (count == 0) delete this;
    return count;
  }

  HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* value) override {
    Log(L"Controller.get_IsVisible");
    if (!value) return E_POINTER;
    if (closed_) return ClosedError;
    *value = IsWindowVisible(view_->Window()) ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL value) override {
    Log(L"Controller.put_IsVisible " + FlagText(value));
    if (closed_) return ClosedError;
    ShowWindow(view_->Window(), value ? SW_SHOWNA : SW_HIDE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override {
    Log(L"Controller.get_Bounds");
    if (!bounds) return E_POINTER;
    if (closed_) return ClosedError;
    *bounds = bounds_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
    Log(L"Controller.put_Bounds " + std::to_wstring(bounds.left) + L" " + std::to_wstring(bounds.top) + L" " +
        std::to_wstring(bounds.right) + L" " + std::to_wstring(bounds.bottom));
    if (closed_) return ClosedError;
    bounds_ = bounds;
    MoveWindow(view_->Window(), bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
               TRUE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parent) override {
    Log(L"Controller.get_ParentWindow");
    if (!parent) return E_POINTER;
    if (closed_) return ClosedError;
    *parent = parent_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND parent) override {
    Log(L"Controller.put_ParentWindow");
    if (closed_) return ClosedError;
    if (!IsWindow(parent)) return E_INVALIDARG;
    parent_ = parent;
    SetParent(view_->Window(), parent);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    Log(L"Controller.Close");
    if (closed_) return ClosedError;
    Shutdown();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** view) override {
    Log(L"Controller.get_CoreWebView2");
    if (!view) return E_POINTER;
    *view = nullptr;
    if (closed_) return ClosedError;
    view_->AddRef();
    *view = view_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) override NOT_IMPLEMENTED(get_ZoomFactor)
  HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) override NOT_IMPLEMENTED(put_ZoomFactor)
  HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(ICoreWebView2ZoomFactorChangedEventHandler*,
                                                  EventRegistrationToken*) override
      NOT_IMPLEMENTED(add_ZoomFactorChanged)
  HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(EventRegistrationToken) override
      NOT_IMPLEMENTED(remove_ZoomFactorChanged)
  HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) override NOT_IMPLEMENTED(SetBoundsAndZoomFactor)
  HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON) override NOT_IMPLEMENTED(MoveFocus)
  HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(ICoreWebView2MoveFocusRequestedEventHandler*,
                                                   EventRegistrationToken*) override
      NOT_IMPLEMENTED(add_MoveFocusRequested)
  HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(EventRegistrationToken) override
      NOT_IMPLEMENTED(remove_MoveFocusRequested)
  HRESULT STDMETHODCALLTYPE add_GotFocus(ICoreWebView2FocusChangedEventHandler*, EventRegistrationToken*) override
      NOT_IMPLEMENTED(add_GotFocus)
  HRESULT STDMETHODCALLTYPE remove_GotFocus(EventRegistrationToken) override NOT_IMPLEMENTED(remove_GotFocus)
  HRESULT STDMETHODCALLTYPE add_LostFocus(ICoreWebView2FocusChangedEventHandler*, EventRegistrationToken*) override
      NOT_IMPLEMENTED(add_LostFocus)
  HRESULT STDMETHODCALLTYPE remove_LostFocus(EventRegistrationToken) override NOT_IMPLEMENTED(remove_LostFocus)
  HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(ICoreWebView2AcceleratorKeyPressedEventHandler*,
                                                      EventRegistrationToken*) override
      NOT_IMPLEMENTED(add_AcceleratorKeyPressed)
  HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(EventRegistrationToken) override
      NOT_IMPLEMENTED(remove_AcceleratorKeyPressed)
  HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override {
    Log(L"Controller.NotifyParentWindowPositionChanged");
    return closed_ ? ClosedError : S_OK;
  }

 private:
  // The last reference closes the view implicitly, as the runtime does.
  ~Controller() {
    if (!closed_) Shutdown();
    if (view_) view_->Drop();
  }
  void Shutdown() {
    closed_ = true;
    if (view_) view_->Shutdown();
  }

  volatile LONG count_ = 1;
  WebView* view_;
  HWND parent_;
  RECT bounds_ = {};
  bool closed_ = false;
};

}  // namespace

ICoreWebView2Controller* CreateController(HWND parent) {
  auto* controller = new (std::nothrow) Controller(parent);
  if (controller && !controller->Usable()) {
    controller->Drop();
    return nullptr;
  }
  return controller;
}

void DropController(ICoreWebView2Controller* controller) { static_cast<Controller*>(controller)->Drop(); }
