// The runtime's ICoreWebView2: one page target of the browser, shown in a
// page window inside the client's window, with the client's document
// scripts, settings and event handlers.
#pragma once
#include <windows.h>
#include <deque>
#include <map>
#include <string>
#include <vector>
#include "com_object.h"
#include "devtools.h"
#include "webview/webview2.h"

struct PageWindow;
struct Popup;

// In the slot order of ICoreWebView2Settings' get/put pairs.
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

struct HandlerRegistration {
  INT64 token;
  IUnknown* handler;  // one reference held while registered
};

// A document script added while a navigation the client started has not yet
// reached its document: it is registered once that navigation settles.
struct HeldScript {
  std::string source;
  ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* completion;  // referenced, or null
};

struct WindowOpen {
  std::string url;
  int width;
  int height;
};

struct WebView {
  ComObject com;
  bool closed = false;
  std::string target;
  std::string session;
  PageWindow* page = nullptr;
  BOOL settings[SettingCount];
  std::string url;  // the current document's address
  bool errorDocument = false;
  std::map<long long, bool> mainWorlds;  // execution contexts: id -> the main frame's default world
  INT64 nextToken = 1;
  std::vector<HandlerRegistration> navigationStarting;
  std::vector<HandlerRegistration> newWindowRequested;
  std::vector<HandlerRegistration> webMessageReceived;
  std::vector<HandlerRegistration> processFailed;
  int settingsInFlight = 0;             // setting commands the browser has not confirmed yet
  std::vector<std::string> waitingNavigations;  // Navigate calls held until those are confirmed
  int navigationsInFlight = 0;          // Navigate calls whose document has not committed yet
  std::vector<std::string> awaitedLoaders;  // loader ids of those navigations, once the browser named them
  std::string lastCommittedLoader;
  std::vector<HeldScript> heldScripts;
  std::deque<WindowOpen> windowOpens;                          // Page.windowOpen not yet matched to a target
  std::deque<std::pair<std::string, std::string>> newTargets;  // (session, target) not yet matched
  std::vector<Popup*> popups;
  unsigned long browserPid = 0;  // Linux process id of the browser it lives in
  // The hang probe: a trivial script the page's renderer has not answered yet
  // (sent at probeSentAt, 0 when none is out); replies to older probes count
  // for nothing.
  ULONGLONG probeSentAt = 0;
  int probeId = 0;
  bool dialogOpen = false;
};

// The page commands that must run before a new target runs any script: the
// message binding and its document script, focus, the viewport; then the
// target is let go. done runs on the UI thread.
void PreparePageSession(const std::string& session, const RECT& bounds, std::function<void(bool)> done);

// A view on a prepared target, with its page window in parent at bounds,
// shown; one reference for the caller.
WebView* CreateWebView(HWND parent, const RECT& bounds, const std::string& target, const std::string& session);
// Controller.Close: the window goes, the target is closed, the handlers are
// released, later calls fail.
void ShutdownWebView(WebView* view);
ICoreWebView2* WebViewInterface(WebView* view);

void ApplySetting(WebView* view, Setting setting, BOOL value);
const wchar_t* SettingName(Setting setting);

// Objects of settings.cpp and event_args.cpp, one reference for the caller.
ComObject* CreateSettings(WebView* view);
ComObject* CreateNavigationStartingArgs(const std::wstring& uri);
ComObject* CreateNewWindowRequestedArgs(const std::wstring& uri);
// payload is the JSON text the page posted.
ComObject* CreateWebMessageArgs(const std::string& payload);
ComObject* CreateProcessFailedArgs(COREWEBVIEW2_PROCESS_FAILED_KIND kind);
ComObject* CreateBrowserProcessExitedArgs(COREWEBVIEW2_BROWSER_PROCESS_EXIT_KIND kind, unsigned long pid);

// While the client's ProcessFailed handlers run.
bool InsideProcessFailedHandler();

// popup.cpp: the default handling of new windows, a top-level window of the
// runtime's own for each.
void OnWindowOpen(WebView* view, const Json& params);
void OnNewTarget(WebView* view, const std::string& session, const std::string& target);
void ClosePopups(WebView* view);

// What the client's handlers of one kind are called with: each gets a
// reference for the call, so one that unregisters cannot free the others.
template <class Handler, class Function>
void ForEachHandler(const std::vector<HandlerRegistration>& list, Function call) {
  std::vector<IUnknown*> held;
  for (const auto& entry : list) {
    entry.handler->AddRef();
    held.push_back(entry.handler);
  }
  for (IUnknown* handler : held) {
    call(reinterpret_cast<Handler*>(handler));
    handler->Release();
  }
}
