// New windows the page opens (window.open, target=_blank): the client's
// NewWindowRequested handlers see each first; then, as the client leaves the
// request unhandled, the runtime shows the new page in a top-level window of
// its own, as the real runtime's default does.
#include <algorithm>
#include "browser.h"
#include "call_log.h"
#include "page_window.h"
#include "web_view.h"

struct Popup {
  WebView* opener;
  std::string session;
  std::string target;
  PageWindow* page;
};

namespace {

constexpr int DefaultPopupWidth = 640;
constexpr int DefaultPopupHeight = 480;

int Feature(const Json& features, const char* name, int fallback) {
  const std::string prefix = std::string(name) + "=";
  for (const auto& feature : features) {
    if (!feature.is_string()) continue;
    const std::string text = feature.get<std::string>();
    if (text.compare(0, prefix.size(), prefix) == 0) {
      int value = atoi(text.c_str() + prefix.size());
      if (value >= 100 && value <= 4096) return value;
    }
  }
  return fallback;
}

void DestroyPopup(Popup* popup) {
  WebView* opener = popup->opener;
  opener->popups.erase(std::remove(opener->popups.begin(), opener->popups.end(), popup), opener->popups.end());
  UnroutePageSession(popup->session);
  ForgetTarget(popup->target);
  DestroyPageWindow(popup->page);
  delete popup;
}

void OnPopupEvent(Popup* popup, const std::string& method, const Json& params) {
  // Popups are not the client's: their dialogs get no default dialog either.
  if (method == "Page.javascriptDialogOpening")
    SendCommand("Page.handleJavaScriptDialog", {{"accept", params.value("type", "") == "beforeunload"}},
                popup->session);
}

void OpenPopup(WebView* view, const std::string& session, const std::string& target, const WindowOpen& request) {
  const RECT size = {0, 0, request.width, request.height};
  PageWindow* page = CreatePageWindow(nullptr, size, session, Wide(request.url));
  if (!page) {
    SendCommand("Target.closeTarget", {{"targetId", target}});
    return;
  }
  auto* popup = new Popup{view, session, target, page};
  view->popups.push_back(popup);
  RoutePageSession(session, [popup](const std::string& method, const Json& params) {
    OnPopupEvent(popup, method, params);
  });
  OnTargetGone(target, [popup](bool) { DestroyPopup(popup); });
  SetPageCloseHandler(page, [target] { SendCommand("Target.closeTarget", {{"targetId", target}}); });
  SendCommand("Page.enable", Json::object(), session);
  ApplyPageViewport(page);
  SendCommand("Runtime.runIfWaitingForDebugger", Json::object(), session);
  SetPageVisible(page, true);
  Log(L"NewWindowRequested.default " + Wide(request.url));
}

// Page.windowOpen (on the opener) and the new target (on the browser) come in
// either order; they pair up first come, first served.
void Pair(WebView* view) {
  while (!view->windowOpens.empty() && !view->newTargets.empty()) {
    const WindowOpen request = view->windowOpens.front();
    view->windowOpens.pop_front();
    const auto target = view->newTargets.front();
    view->newTargets.pop_front();
    const std::wstring uri = Wide(request.url);
    if (ComObject* args = CreateNewWindowRequestedArgs(uri)) {
      Log(L"NewWindowRequested " + uri);
      ForEachHandler<ICoreWebView2NewWindowRequestedEventHandler>(view->newWindowRequested, [&](auto* handler) {
        handler->Invoke(WebViewInterface(view), AsInterface<ICoreWebView2NewWindowRequestedEventArgs>(args));
      });
      DropObject(args);
    }
    if (view->closed) {
      SendCommand("Target.closeTarget", {{"targetId", target.second}});
      continue;
    }
    OpenPopup(view, target.first, target.second, request);
  }
}

}  // namespace

void OnWindowOpen(WebView* view, const Json& params) {
  const Json features = params.value("windowFeatures", Json::array());
  view->windowOpens.push_back({params.value("url", ""), Feature(features, "width", DefaultPopupWidth),
                               Feature(features, "height", DefaultPopupHeight)});
  Pair(view);
}

void OnNewTarget(WebView* view, const std::string& session, const std::string& target) {
  view->newTargets.emplace_back(session, target);
  Pair(view);
}

void ClosePopups(WebView* view) {
  auto popups = view->popups;
  for (Popup* popup : popups) {
    SendCommand("Target.closeTarget", {{"targetId", popup->target}});
    DestroyPopup(popup);
  }
  for (const auto& target : view->newTargets) SendCommand("Target.closeTarget", {{"targetId", target.second}});
  view->newTargets.clear();
  view->windowOpens.clear();
}
