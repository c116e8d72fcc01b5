// The running browser as the environment and the views share it: started on
// the first environment, closed when the last environment, controller and
// view let go of it; and the routing of its DevTools events to the views,
// on the UI thread.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include "devtools.h"

// Takes a reference on the browser for the profile folder and calls ready
// through Deliver: S_OK once the browser runs, or the failure. Only one
// profile per process; another while one runs fails with ERROR_INVALID_STATE.
// A browser that ended unasked holds its profile (ERROR_BUSY) until its whole
// process group has ended; then its environments get BrowserProcessExited.
void AcquireBrowser(const std::wstring& program, const std::wstring& profileFolder,
                    std::function<void(HRESULT)> ready);
// The browser that runs or starts now: a count of starts, and its Linux
// process id once it runs (else 0).
int BrowserGeneration();
unsigned long BrowserPid();
// A further reference on a browser that runs (for a controller or a view).
void HoldBrowser();
// The last release closes the browser.
void ReleaseBrowser();

using PageEventHandler = std::function<void(const std::string& method, const Json& params)>;
// A page session's events go to handler, on the UI thread, until unrouted.
void RoutePageSession(const std::string& session, PageEventHandler handler);
void UnroutePageSession(const std::string& session);

// A new page target (about:blank), paused until its session is configured;
// claimed calls back on the UI thread with the session, or an empty one.
void CreatePageTarget(std::function<void(const std::string& target, const std::string& session)> claimed);

// Pages whose window.open or target=_blank opens a new target: attached
// calls back with the new target's session and id, still paused.
using PopupHandler = std::function<void(const std::string& session, const std::string& target)>;
void RoutePopupsOf(const std::string& openerTarget, PopupHandler handler);
void UnroutePopupsOf(const std::string& openerTarget);
// The target's end (closed or detached), or the whole browser's (then
// browserEnded is true): called once.
void OnTargetGone(const std::string& target, std::function<void(bool browserEnded)> gone);
void ForgetTarget(const std::string& target);
