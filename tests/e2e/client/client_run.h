// The real norvvpnui.exe started from a run folder of its own, with or without
// the development stand-ins beside it, and found again by its window.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "support/test_support.h"

struct ClientOptions {
  bool webViewRuntime = true;
  bool winbrandStandIn = false;
  std::vector<std::wstring> environment;
  std::wstring workDir;     // the run folder when empty
  std::wstring stderrFile;  // appended to instead of captured
};

class ClientRun {
 public:
  explicit ClientRun(const ClientOptions& options = {});
  bool Start(const std::wstring& arguments = L"");
  // The process's own top-level window of class "NorvVpnUI" once start-up has
  // shown it and its thread answers; null when that does not come.
  HWND WaitForWindow(DWORD timeoutMs = LivenessMs);
  // Exit through the tray menu's command; returns the exit status, or -2 when
  // the process did not end in time.
  long Exit(DWORD timeoutMs = LivenessMs);
  ChildProcess& Process() { return process_; }
  RunFolder& Folder() { return folder_; }
  std::wstring WebViewLog() const { return folder_.File(L"webview.log"); }
  std::vector<std::wstring> Environment() const;

 private:
  ClientOptions options_;
  RunFolder folder_;
  std::wstring exe_;
  ChildProcess process_;
  HWND window_ = nullptr;
};

// The client started, its window found, and the service's page in it (the
// page's first web message).
void StartWithPage(ClientRun& client, HWND* window);

// Copies of a DLL where our DLLs must never be looked for: the folder the
// client starts in, and one put first on its PATH.
class StrayCopies {
 public:
  StrayCopies(const std::wstring& dll, const wchar_t* name);
  void ApplyTo(ClientOptions* options) const;

 private:
  RunFolder current_, onPath_;
};

// First top-level window of class "NorvVpnUI" owned by the process. Class
// names are atoms of the session that ignore case, and another process reads
// the spelling registered first; so the case is ignored here.
HWND FindClientWindow(DWORD processId);
std::wstring WindowText(HWND window);
// A message sent to the window came back: its thread has handled everything
// sent to it before.
bool MessageLoopAnswers(HWND window, DWORD timeoutMs = LivenessMs);

// The menu of the tray icon, open and shown; null when it does not come.
HWND OpenMenu();
// Right-click on the icon, then the item at `position` (1-based) by keys.
bool ChooseFromTrayMenu(HWND window, int position);

// The development runtime's log of the client's run, and how many of its
// lines start with prefix.
std::vector<std::string> LogLines(const ClientRun& client);
size_t CountLines(const ClientRun& client, const std::string& prefix);
// The runtime's page window in the client's window, or null; and whether it
// covers the window's client area.
HWND PageWindow(HWND parent);
bool SameSize(HWND page, HWND window);

// The Linux process ids of the browsers the development runtime started for
// the client, in order (its log's "Browser.started pid=" lines).
std::vector<unsigned long> BrowserPids(const ClientRun& client);
bool LinuxProcessRuns(unsigned long pid);
// Ends a Linux process as a crash would, with no word to anyone; false when
// it still runs.
bool KillLinuxProcess(unsigned long pid);
