#include "browser.h"
#include <map>
#include <memory>
#include <vector>
#include "browser_process.h"
#include "call_log.h"
#include "delivery.h"
#include "environment.h"
#include "page_window.h"

namespace {

enum class State { Stopped, Starting, Running };

// UI thread only, like everything in this file but the event sink.
State BrowserState = State::Stopped;
int References = 0;
int Generation = 0;  // one per browser started, so an old connection's end cannot stop a newer browser
std::wstring Profile;
std::vector<std::function<void(HRESULT)>> Waiting;
unsigned long BrowserLinuxPid = 0;
std::wstring BrowserTag;
bool CloseAsked = false;

// A browser that ended unasked holds its profile until its whole process
// group is gone, as the real runtime's processes hold the user data folder;
// its environments hear of the end then.
struct EndedBrowser {
  bool pending = false;
  int generation = 0;
  std::wstring profile;
  unsigned long pid = 0;
  std::vector<std::function<void(bool)>> viewsToTell;  // held back while the exit event goes first
};
EndedBrowser Ended;

std::map<std::string, PageEventHandler> Pages;  // by session
std::map<std::string, std::function<void(const std::string&, const std::string&)>> Claims;  // by target
std::map<std::string, std::string> Unclaimed;       // target -> session, paused, reported before its creation's reply
std::map<std::string, PopupHandler> Openers;        // by opener target
std::map<std::string, std::function<void(bool)>> Gone;  // by target
std::map<std::string, std::string> SessionTargets;  // session -> target

constexpr HRESULT NoRuntime = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
// "The requested resource is in use", as a new environment on a folder the
// dead browser still holds is reported to fail.
constexpr HRESULT ProfileInUse = HRESULT_FROM_WIN32(ERROR_BUSY);
// A watchdog that never reports does not hold the profile for ever.
constexpr DWORD GroupEndBoundMs = 30000;

// NORV_WEBVIEW_EXIT_EVENT: BrowserProcessExited comes before ProcessFailed
// ("before"), after it ("after", the default) or not at all ("never"); the
// real runtime does not promise an order.
enum class ExitEvent { Before, After, Never };
ExitEvent ExitEventOrder() {
  wchar_t value[16] = {};
  const DWORD length = GetEnvironmentVariableW(L"NORV_WEBVIEW_EXIT_EVENT", value, 16);
  if (length == 0 || length >= 16) return ExitEvent::After;
  if (lstrcmpiW(value, L"before") == 0) return ExitEvent::Before;
  if (lstrcmpiW(value, L"never") == 0) return ExitEvent::Never;
  return ExitEvent::After;
}

void OnGroupEnded(int generation) {
  if (!Ended.pending || Ended.generation != generation) return;
  Ended.pending = false;  // the profile is free again
  auto views = std::move(Ended.viewsToTell);
  Ended.viewsToTell.clear();
  Log(L"Browser.exited pid=" + std::to_wstring(Ended.pid));
  if (ExitEventOrder() != ExitEvent::Never) RaiseBrowserProcessExited(generation, Ended.pid);
  for (auto& gone : views) gone(true);
}

struct GroupWatch {
  int generation;
  std::wstring profile;
  std::wstring tag;
};

DWORD WINAPI WatchGroupEnd(void* parameter) {
  std::unique_ptr<GroupWatch> watch(static_cast<GroupWatch*>(parameter));
  std::string status;
  const DWORD start = GetTickCount();
  while (!ReadBrowserExit(watch->profile, watch->tag, &status) && GetTickCount() - start < GroupEndBoundMs) Sleep(25);
  const int generation = watch->generation;
  Deliver([generation] { OnGroupEnded(generation); });
  return 0;
}

void WatchForGroupEnd() {
  Ended.pending = true;
  Ended.generation = Generation;
  Ended.profile = Profile;
  Ended.pid = BrowserLinuxPid;
  Ended.viewsToTell.clear();
  auto* watch = new GroupWatch{Generation, Profile, BrowserTag};
  HANDLE thread = CreateThread(nullptr, 0, WatchGroupEnd, watch, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
    return;
  }
  delete watch;
  Ended.pending = false;
}

void Resume(const std::string& session) { SendCommand("Runtime.runIfWaitingForDebugger", Json::object(), session); }

void Detach(const std::string& session) { SendCommand("Target.detachFromTarget", {{"sessionId", session}}); }

void TargetGone(const std::string& target) {
  auto it = Gone.find(target);
  if (it == Gone.end()) return;
  auto gone = std::move(it->second);
  Gone.erase(it);
  gone(false);
}

void OnAttached(const Json& params) {
  const Json& info = params.value("targetInfo", Json::object());
  const std::string session = params.value("sessionId", "");
  const std::string target = info.value("targetId", "");
  const std::string opener = info.value("openerId", "");
  SessionTargets[session] = target;
  if (info.value("type", "") == "page") {
    auto claim = Claims.find(target);
    if (claim != Claims.end()) {
      auto claimed = std::move(claim->second);
      Claims.erase(claim);
      claimed(target, session);
      return;
    }
    auto popups = opener.empty() ? Openers.end() : Openers.find(opener);
    if (popups != Openers.end()) {
      auto handler = popups->second;
      handler(session, target);
      return;
    }
    // Only our own Target.createTarget makes a paused page without an
    // opener; its reply follows this event.
    if (opener.empty() && params.value("waitingForDebugger", false)) {
      Unclaimed[target] = session;
      return;
    }
  }
  // The browser's own first tab and anything else: not ours.
  Resume(session);
  Detach(session);
}

void OnConnectionEnded() {
  Log(L"Browser.ended");
  const bool unasked = !CloseAsked;
  BrowserState = State::Stopped;
  References = 0;
  Pages.clear();
  Claims.clear();
  Unclaimed.clear();
  Openers.clear();
  SessionTargets.clear();
  // Let go of the dead browser's lifeline first: a view told of the end may
  // ask for a new browser at once, whose lifeline must survive this.
  ReleaseBrowserLifeline();
  if (unasked) WatchForGroupEnd();
  // One target at a time, looked up again each time: a callback may end
  // others (a view its popups, a client's handler another view).
  std::vector<std::string> targets;
  for (const auto& entry : Gone) targets.push_back(entry.first);
  for (const auto& target : targets) {
    auto it = Gone.find(target);
    if (it == Gone.end()) continue;
    auto gone = std::move(it->second);
    Gone.erase(it);
    if (Ended.pending && ExitEventOrder() == ExitEvent::Before)
      Ended.viewsToTell.push_back(std::move(gone));
    else
      gone(true);
  }
}

void RouteEvent(int generation, const std::string& session, const std::string& method, const Json& params) {
  if (generation != Generation) return;
  if (method.empty()) {
    OnConnectionEnded();
    return;
  }
  if (!session.empty()) {
    auto page = Pages.find(session);
    if (page != Pages.end()) {
      auto handler = page->second;  // it may unroute itself
      handler(method, params);
    }
    return;
  }
  if (method == "Target.attachedToTarget") {
    OnAttached(params);
  } else if (method == "Target.detachedFromTarget") {
    const std::string detached = params.value("sessionId", "");
    auto it = SessionTargets.find(detached);
    if (it == SessionTargets.end()) return;
    std::string target = it->second;
    SessionTargets.erase(it);
    TargetGone(target);
  } else if (method == "Target.targetDestroyed") {
    // A crashed page is not gone: its target stays and a reload brings it
    // back, as its own session's Inspector.targetCrashed tells the view.
    TargetGone(params.value("targetId", ""));
  }
}

void FinishStart(int generation, bool started, unsigned long pid, const std::wstring& tag) {
  if (generation != Generation) return;
  BrowserState = started ? State::Running : State::Stopped;
  BrowserLinuxPid = pid;
  BrowserTag = tag;
  CloseAsked = false;
  if (!started) References = 0;
  auto waiting = std::move(Waiting);
  Waiting.clear();
  for (auto& ready : waiting) ready(started ? S_OK : NoRuntime);
}

struct StartRequest {
  int generation;
  std::wstring program;
  std::wstring profile;
};

DWORD WINAPI StartBrowser(void* parameter) {
  std::unique_ptr<StartRequest> request(static_cast<StartRequest*>(parameter));
  const int generation = request->generation;
  BrowserProcess process;
  if (!LaunchBrowser(request->program, request->profile, &process)) {
    Deliver([generation] { FinishStart(generation, false, 0, std::wstring()); });
    return 0;
  }
  auto sink = [generation](const std::string& session, const std::string& method, const Json& params) {
    // Frames are decoded here, off the UI thread; everything else goes there.
    if (method == "Page.screencastFrame") {
      OnScreencastFrame(session, params);
      return;
    }
    if (method == "Page.frameNavigated") OnPageCommitted(session, params);
    Deliver([generation, session, method, params] { RouteEvent(generation, session, method, params); });
  };
  if (!ConnectDevTools(process.port, process.devToolsPath, sink)) {
    Log(L"Browser.failed no DevTools connection on port " + std::to_wstring(process.port));
    ReleaseBrowserLifeline();
    Deliver([generation] { FinishStart(generation, false, 0, std::wstring()); });
    return 0;
  }
  // Every new page, ours and the popups our pages open, waits for us before
  // it runs a script.
  const Json autoAttach = {{"autoAttach", true},
                           {"waitForDebuggerOnStart", true},
                           {"flatten", true},
                           {"filter", Json::array({{{"type", "page"}}})}};
  const unsigned long pid = process.linuxPid;
  const std::wstring tag = process.tag;
  SendCommand("Target.setAutoAttach", autoAttach, std::string(),
              [generation, pid, tag](const Json&, const Json& error) {
                const bool ok = error.is_null();
                Deliver([generation, ok, pid, tag] { FinishStart(generation, ok, pid, tag); });
              });
  return 0;
}

}  // namespace

void AcquireBrowser(const std::wstring& program, const std::wstring& profileFolder,
                    std::function<void(HRESULT)> ready) {
  if (BrowserState != State::Stopped && lstrcmpiW(profileFolder.c_str(), Profile.c_str()) != 0) {
    Deliver([ready] { ready(HRESULT_FROM_WIN32(ERROR_INVALID_STATE)); });
    return;
  }
  if (Ended.pending && lstrcmpiW(profileFolder.c_str(), Ended.profile.c_str()) == 0) {
    Log(L"Browser.busy: the processes of the browser that ended still run");
    Deliver([ready] { ready(ProfileInUse); });
    return;
  }
  ++References;
  if (BrowserState == State::Running) {
    Deliver([ready] { ready(S_OK); });
    return;
  }
  Waiting.push_back(std::move(ready));
  if (BrowserState == State::Starting) return;
  BrowserState = State::Starting;
  Profile = profileFolder;
  auto* request = new StartRequest{++Generation, program, profileFolder};
  HANDLE thread = CreateThread(nullptr, 0, StartBrowser, request, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
    return;
  }
  delete request;
  const int generation = Generation;
  Deliver([generation] { FinishStart(generation, false, 0, std::wstring()); });
}

int BrowserGeneration() { return Generation; }

unsigned long BrowserPid() { return BrowserState == State::Running ? BrowserLinuxPid : 0; }

void HoldBrowser() { ++References; }

void ReleaseBrowser() {
  if (References > 0) --References;
  if (References > 0 || BrowserState != State::Running) return;
  BrowserState = State::Stopped;
  CloseAsked = true;
  Log(L"Browser.close");
  // Only this browser's lifeline: a new one may have started by the reply.
  const UINT_PTR lifeline = CurrentBrowserLifeline();
  SendCommand("Browser.close", Json::object(), std::string(),
              [lifeline](const Json&, const Json&) { ReleaseBrowserLifeline(lifeline); });
}

void RoutePageSession(const std::string& session, PageEventHandler handler) { Pages[session] = std::move(handler); }

void UnroutePageSession(const std::string& session) { Pages.erase(session); }

void CreatePageTarget(std::function<void(const std::string& target, const std::string& session)> claimed) {
  const int generation = Generation;
  SendCommand("Target.createTarget", {{"url", "about:blank"}}, std::string(),
              [claimed, generation](const Json& result, const Json& error) {
                const std::string target = error.is_null() ? result.value("targetId", "") : std::string();
                Deliver([claimed, generation, target] {
                  if (generation != Generation || target.empty()) {
                    claimed(std::string(), std::string());
                    return;
                  }
                  auto early = Unclaimed.find(target);
                  if (early == Unclaimed.end()) {
                    Claims[target] = claimed;
                    return;
                  }
                  std::string session = early->second;
                  Unclaimed.erase(early);
                  claimed(target, session);
                });
              });
}

void RoutePopupsOf(const std::string& openerTarget, PopupHandler handler) { Openers[openerTarget] = std::move(handler); }

void UnroutePopupsOf(const std::string& openerTarget) { Openers.erase(openerTarget); }

void OnTargetGone(const std::string& target, std::function<void(bool)> gone) { Gone[target] = std::move(gone); }

void ForgetTarget(const std::string& target) { Gone.erase(target); }
