// The browser program the runtime drives: Debian's Chromium, headless, on a
// profile under the client's user data folder ("<folder>\EBWebView", as the
// real runtime keeps its own), started from this Windows process as a Linux
// program under a small bash watchdog. The watchdog's standard input is a
// socket whose other end only this process holds: when the process ends,
// however it ends, the watchdog reads end-of-file and stops the browser.
#pragma once
#include <windows.h>
#include <string>

struct BrowserProcess {
  int port = 0;                 // DevTools endpoint on 127.0.0.1
  std::wstring devToolsPath;    // "/devtools/browser/<id>"
  unsigned long linuxPid = 0;
  std::wstring tag;             // this start's, in norv-browser.exit
};

// The Linux path of the browser program: NORV_WEBVIEW_BROWSER when set, else
// /usr/bin/chromium; empty when that program does not exist (or this is not
// Wine, which the runtime needs).
std::wstring FindBrowserProgram();

// The Linux path of a Windows path, or empty.
std::wstring LinuxPathOf(const std::wstring& windowsPath);

// Starts the browser and waits until its DevTools endpoint is known, it has
// exited, or the start-up bound has passed (NORV_WEBVIEW_START_TIMEOUT_MS,
// default 30 s). Blocks: call it off the UI thread. On failure the browser,
// if any, is being stopped.
bool LaunchBrowser(const std::wstring& program, const std::wstring& profileFolder, BrowserProcess* started);

// Whether the watchdog of the start tagged tag has seen its browser's whole
// process group end, and the browser's exit status if so.
bool ReadBrowserExit(const std::wstring& profileFolder, const std::wstring& tag, std::string* status);

// Lets go of the lifeline; the watchdog stops the browser within a second.
void ReleaseBrowserLifeline();
// The lifeline of the browser running now, and its release that leaves a
// later browser's alone.
UINT_PTR CurrentBrowserLifeline();
void ReleaseBrowserLifeline(UINT_PTR lifeline);
