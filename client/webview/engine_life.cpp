#include "webview/engine_life.h"
#include "webview/webview_host.h"

namespace {

enum class Stage {
  Standing,       // a view stands, or start-up is making the first one
  Dead,           // the browser died; the loop decides what comes next
  AwaitingExit,   // for the dead browser's BrowserProcessExited, 3 s at most
  Recreating,     // a hung page's view is made again from the loop
  Building,       // an environment or a controller is on its way
  AwaitingRetry,  // a build failed; the timer starts the next
  GivenUp,        // the notice stays until the client is started again
};

// On Windows the old browser may hold the user data folder for a while after
// it died; a new environment on it fails until it has let go.
constexpr UINT ExitWaitMs = 3000;
constexpr UINT RetryDelaysMs[] = {1000, 3000, 10000};
constexpr int RetryCount = 3;
// The runtime reports a hung renderer again every 15 s or so, and also when
// the machine is only busy: one report alone is no judgement.
constexpr ULONGLONG HangReportsWithinMs = 45 * 1000;

// An engine that keeps failing is not restarted for ever: at most three
// actions of a kind within the budget's window.
struct FailureBudget {
  static constexpr int Limit = 3;
  ULONGLONG windowMs;
  ULONGLONG times[Limit];  // a ring, the oldest at next once full
  int next;
  int used;
};
FailureBudget Rebuilds = {60 * 1000, {}, 0, 0};
FailureBudget PageReloads = {60 * 1000, {}, 0, 0};
FailureBudget HangActions = {10 * 60 * 1000, {}, 0, 0};

Stage CurrentStage = Stage::Standing;
bool SessionEnding = false;
UINT32 ViewBrowser = 0;  // the standing view's browser process, 0 when unknown
UINT32 DeadBrowser = 0;  // the one a rebuild waits for
// BrowserProcessExited may come before ProcessFailed.
bool BrowserExitSeen = false;
UINT32 ExitedBrowser = 0;
int FailedBuilds = 0;
ULONGLONG LastHangReport = 0;
bool HangReloaded = false;

// Takes one try out of the budget, or says there is none left.
bool TakeTry(FailureBudget& budget, ULONGLONG now) {
  if (budget.used >= FailureBudget::Limit && now - budget.times[budget.next] < budget.windowMs) return false;
  budget.times[budget.next] = now;
  budget.next = (budget.next + 1) % FailureBudget::Limit;
  if (budget.used < FailureBudget::Limit) ++budget.used;
  return true;
}

bool OldBrowserGone() {
  return BrowserExitSeen && (DeadBrowser == 0 || ExitedBrowser == 0 || ExitedBrowser == DeadBrowser);
}

void GiveUp(HWND window) {
  KillTimer(window, WebViewLifeTimer);
  CurrentStage = Stage::GivenUp;
  ShowWebViewNotice(window);
}

// As at start: a new environment on the same folder, the old one let go.
void StartBuild(HWND window) {
  KillTimer(window, WebViewLifeTimer);
  CurrentStage = Stage::Building;
  ReleaseWebViewEnvironment();
  RequestWebViewEnvironment(window);
}

void WaitForOldBrowser(HWND window) {
  CurrentStage = Stage::AwaitingExit;
  if (OldBrowserGone())
    StartBuild(window);
  else
    SetTimer(window, WebViewLifeTimer, ExitWaitMs, nullptr);
}

void OnPageHung(HWND window) {
  const ULONGLONG now = GetTickCount64();
  const bool again = LastHangReport != 0 && now - LastHangReport <= HangReportsWithinMs;
  LastHangReport = now;
  if (!again) {
    HangReloaded = false;
    return;
  }
  // A page that keeps hanging is left as the engine shows it.
  if (CurrentStage != Stage::Standing || !TakeTry(HangActions, now)) return;
  if (!HangReloaded) {
    HangReloaded = true;
    WebView->Reload();
    return;
  }
  CurrentStage = Stage::Recreating;
  PostMessageW(window, WM_WEBVIEW_LIFE, 0, 0);
}

}  // namespace

void OnEngineFailed(HWND window, COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
  switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
      // The view is dead for good; the window, the tray and the tunnel stay
      // as they are. A rebuild from inside this handler may never be
      // answered, so it runs from the loop.
      CloseWebView();
      CurrentStage = Stage::Dead;
      DeadBrowser = ViewBrowser;
      PostMessageW(window, WM_WEBVIEW_LIFE, 0, 0);
      break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
      // A page that fails on every load is left as the engine shows it.
      if (TakeTry(PageReloads, GetTickCount64())) WebView->Reload();
      break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
      if (!SessionEnding) OnPageHung(window);
      break;
    default:
      break;
  }
}

void OnBrowserExited(HWND window, UINT32 browserPid) {
  BrowserExitSeen = true;
  ExitedBrowser = browserPid;
  if (CurrentStage == Stage::AwaitingExit && OldBrowserGone()) PostMessageW(window, WM_WEBVIEW_LIFE, 0, 0);
}

void OnViewBuilt(UINT32 browserPid) {
  CurrentStage = Stage::Standing;
  ViewBrowser = browserPid;
  BrowserExitSeen = false;
  ExitedBrowser = 0;
  FailedBuilds = 0;
  LastHangReport = 0;
  HangReloaded = false;
}

void OnViewNotBuilt(HWND window) {
  // Start-up's own failure shows the notice at once, as it always has.
  if (CurrentStage != Stage::Building) {
    ShowWebViewNotice(window);
    return;
  }
  CurrentStage = Stage::AwaitingRetry;
  // A failure while the session ends is the logoff's: tried again if it is
  // cancelled.
  if (SessionEnding) return;
  if (FailedBuilds >= RetryCount) {
    GiveUp(window);
    return;
  }
  SetTimer(window, WebViewLifeTimer, RetryDelaysMs[FailedBuilds++], nullptr);
}

void OnWebViewLifeMessage(HWND window) {
  if (SessionEnding) return;
  switch (CurrentStage) {
    case Stage::Dead:
      if (!TakeTry(Rebuilds, GetTickCount64())) {
        GiveUp(window);
        return;
      }
      WaitForOldBrowser(window);
      break;
    case Stage::AwaitingExit:
      // The exit came, or the logoff was cancelled: the wait starts afresh.
      WaitForOldBrowser(window);
      break;
    case Stage::AwaitingRetry:  // after a cancelled logoff
      StartBuild(window);
      break;
    case Stage::Recreating:
      // The kept environment's browser still runs; only the page hung.
      CloseWebView();
      CurrentStage = Stage::Building;
      RequestWebViewController(window);
      break;
    default:
      break;
  }
}

void OnWebViewLifeTimer(HWND window) {
  KillTimer(window, WebViewLifeTimer);
  if (SessionEnding) return;
  if (CurrentStage == Stage::AwaitingExit || CurrentStage == Stage::AwaitingRetry) StartBuild(window);
}

void OnQueryEndSession() { SessionEnding = true; }

void OnEndSession(HWND window, bool ending) {
  if (ending) return;
  SessionEnding = false;
  PostMessageW(window, WM_WEBVIEW_LIFE, 0, 0);
}
