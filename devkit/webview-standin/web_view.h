// The stand-in's ICoreWebView2: the page's address, switch state, document
// scripts and registered handlers, and the window that shows them.
#pragma once
#include <utility>
#include <vector>
#include "standin.h"

class WebView final : public ICoreWebView2 {
 public:
  explicit WebView(HWND parent);
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  // The stand-in's own references; only the client's Release is logged.
  void Hold() { ChangeCount(&count_, 1); }
  void Drop();
  HWND Window() const { return window_; }
  bool Closed() const { return closed_; }
  // Controller.Close: the window goes, the handlers are released, and
  // later calls fail.
  void Shutdown();

  // Settings, in slot order of ICoreWebView2Settings' pairs.
  enum Setting {
    IsScriptEnabled,
    IsWebMessageEnabled,
    AreDefaultScriptDialogsEnabled,
    IsStatusBarEnabled,
    AreDevToolsEnabled,
    AreDefaultContextMenusEnabled,
    AreHostObjectsAllowed,
    IsZoomControlEnabled,
    IsBuiltInErrorPageEnabled,
    SettingCount
  };
  BOOL settings[SettingCount];

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override;
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) override;
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override;
  HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR htmlContent) override;
  HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* eventHandler,
                                                   EventRegistrationToken* token) override;
  HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken token) override;
  HRESULT STDMETHODCALLTYPE add_ContentLoading(ICoreWebView2ContentLoadingEventHandler*,
                                               EventRegistrationToken*) override;
  HRESULT STDMETHODCALLTYPE remove_ContentLoading(EventRegistrationToken) override;
  HRESULT STDMETHODCALLTYPE add_SourceChanged(ICoreWebView2SourceChangedEventHandler*,
                                              EventRegistrationToken*) override;
  HRESULT STDMETHODCALLTYPE remove_SourceChanged(EventRegistrationToken) override;
  HRESULT STDMETHODCALLTYPE add_HistoryChanged(ICoreWebView2HistoryChangedEventHandler*,
                                               EventRegistrationToken*) override;
  HRESULT STDMETHODCALLTYPE remove_HistoryChanged(EventRegistrationToken) override;
  HRESULT STDMETHODCALLTYPE add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler*,
                                                    EventRegistrationToken*) override;
  HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken) override;
  HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(ICoreWebView2NavigationStartingEventHandler*,
                                                        EventRegistrationToken*) override;
  HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(EventRegistrationToken) override;
  HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(ICoreWebView2NavigationCompletedEventHandler*,
                                                         EventRegistrationToken*) override;
  HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(EventRegistrationToken) override;
  HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(ICoreWebView2ScriptDialogOpeningEventHandler*,
                                                    EventRegistrationToken*) override;
  HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(EventRegistrationToken) override;
  HRESULT STDMETHODCALLTYPE add_PermissionRequested(ICoreWebView2PermissionRequestedEventHandler*,
                                                    EventRegistrationToken*) override;
  HRESULT STDMETHODCALLTYPE remove_PermissionRequested(EventRegistrationToken) override;
  HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler*,
                                              EventRegistrationToken*) override;
  HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken) override;
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR javaScript, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) override;
  HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) override;
  HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR javaScript,
                                          ICoreWebView2ExecuteScriptCompletedHandler* handler) override;
  HRESULT STDMETHODCALLTYPE CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT, IStream*,
                                           ICoreWebView2CapturePreviewCompletedHandler*) override;
  HRESULT STDMETHODCALLTYPE Reload() override;
  HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR) override;
  HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR) override;
  HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* handler,
                                                   EventRegistrationToken* token) override;
  HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken token) override;
  HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(LPCWSTR, LPCWSTR,
                                                       ICoreWebView2CallDevToolsProtocolMethodCompletedHandler*) override;
  HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32*) override;
  HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL*) override;
  HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL*) override;
  HRESULT STDMETHODCALLTYPE GoBack() override;
  HRESULT STDMETHODCALLTYPE GoForward() override;
  HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR,
                                                             ICoreWebView2DevToolsProtocolEventReceiver**) override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler* eventHandler,
                                                   EventRegistrationToken* token) override;
  HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(EventRegistrationToken token) override;

 private:
  template <class Handler>
  using Registrations = std::vector<std::pair<INT64, Handler*>>;

  ~WebView();
  void ReleaseHandlers();
  void Repaint();
  // The events the stand-in raises, from the message loop.
  void StartDocument(const std::wstring& address);
  void RequestNewWindow(const std::wstring& address);

  template <class Handler>
  HRESULT Register(Registrations<Handler>& list, Handler* handler, EventRegistrationToken* token);
  template <class Handler>
  HRESULT Unregister(Registrations<Handler>& list, EventRegistrationToken token);

  volatile LONG count_ = 1;
  HWND window_ = nullptr;
  bool closed_ = false;
  std::wstring address_;
  SwitchState switch_ = SwitchState::Unknown;
  std::vector<std::wstring> documentScripts_;
  INT64 nextToken_ = 1;
  Registrations<ICoreWebView2NavigationStartingEventHandler> navigationStarting_;
  Registrations<ICoreWebView2NewWindowRequestedEventHandler> newWindowRequested_;
  Registrations<ICoreWebView2WebMessageReceivedEventHandler> webMessageReceived_;
};

// Event arguments the stand-in hands to the client's handlers; counts start at 1.
ICoreWebView2NavigationStartingEventArgs* CreateNavigationStartingArgs(const std::wstring& uri, BOOL** cancel);
ICoreWebView2NewWindowRequestedEventArgs* CreateNewWindowRequestedArgs(const std::wstring& uri, BOOL** handled);
ICoreWebView2WebMessageReceivedEventArgs* CreateWebMessageArgs(const std::wstring& source,
                                                               const std::wstring& message);
ICoreWebView2Settings* CreateSettings(WebView* view);
