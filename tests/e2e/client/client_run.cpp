#include "client_run.h"
#include <gtest/gtest.h>
#include <algorithm>
#include "shell/app_state.h"
#include "support/taskbar.h"

ClientRun::ClientRun(const ClientOptions& options) : options_(options) {
  exe_ = folder_.Copy(HostPathFromEnv("NORV_CLIENT_EXE"));
  if (options_.webViewRuntime) folder_.Copy(HostPathFromEnv("NORV_WEBVIEW_RUNTIME"), L"WebView2Loader.dll");
  if (options_.winbrandStandIn) folder_.Copy(HostPathFromEnv("NORV_WINBRAND_DLL"), L"winbrand.dll");
}

std::vector<std::wstring> ClientRun::Environment() const {
  std::vector<std::wstring> environment = {L"NORV_WEBVIEW_LOG=" + WebViewLog()};
  environment.insert(environment.end(), options_.environment.begin(), options_.environment.end());
  return environment;
}

bool ClientRun::Start(const std::wstring& arguments) {
  // The client's icon records come to this process, never to a tray of the
  // session that would show them its own way.
  if (!StartTaskbar()) return false;
  ChildOptions child;
  child.workDir = options_.workDir.empty() ? folder_.Path() : options_.workDir;
  child.stderrFile = options_.stderrFile;
  return process_.Start(exe_, arguments, Environment(), child);
}

// A window driven before start-up's own ShowWindow would have that undone.
// Visible means ShowWindow has run; the answer, that it has returned.
HWND ClientRun::WaitForWindow(DWORD timeoutMs) {
  const bool shown = WaitUntil(
      [this] {
        window_ = FindClientWindow(process_.Id());
        return window_ && IsWindowVisible(window_);
      },
      timeoutMs);
  return shown && MessageLoopAnswers(window_, timeoutMs) ? window_ : nullptr;
}

long ClientRun::Exit(DWORD timeoutMs) {
  if (!window_) WaitForWindow();
  PostMessageW(window_, WM_COMMAND, IDM_EXIT, 0);
  DWORD status = 0;
  if (!process_.Wait(timeoutMs, &status)) return -2;
  return static_cast<long>(status);
}

void StartWithPage(ClientRun& client, HWND* window) {
  ASSERT_TRUE(client.Start());
  *window = client.WaitForWindow();
  ASSERT_NE(nullptr, *window);
  ASSERT_TRUE(WaitUntil([&] { return CountLines(client, "WebMessageReceived http://127.0.0.1:13001/") > 0; },
                        LivenessMs));
  // The line is written as the message is delivered; the client's handler
  // has run once the loop answers.
  ASSERT_TRUE(MessageLoopAnswers(*window));
}

StrayCopies::StrayCopies(const std::wstring& dll, const wchar_t* name) {
  current_.Copy(dll, name);
  onPath_.Copy(dll, name);
}

void StrayCopies::ApplyTo(ClientOptions* options) const {
  wchar_t path[4096] = {};
  GetEnvironmentVariableW(L"PATH", path, 4096);
  options->workDir = current_.Path();
  options->environment.push_back(L"PATH=" + onPath_.Path() + L";" + path);
}

namespace {
struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchClientWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (owner == search->processId && _wcsicmp(className, MainWindowClass) == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND FindClientWindow(DWORD processId) {
  WindowSearch search = {processId, nullptr};
  EnumWindows(MatchClientWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring WindowText(HWND window) {
  wchar_t text[256] = {};
  // Another process's title comes through WM_GETTEXT.
  SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, LivenessMs,
                      nullptr);
  return text;
}

bool MessageLoopAnswers(HWND window, DWORD timeoutMs) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

HWND OpenMenu() {
  HWND menu = nullptr;
  WaitUntil([&] { return (menu = FindWindowW(L"#32768", nullptr)) != nullptr && IsWindowVisible(menu); }, LivenessMs);
  return menu;
}

bool ChooseFromTrayMenu(HWND window, int position) {
  PostMessageW(window, WM_TRAYICON, 0, WM_RBUTTONDOWN);
  HWND menu = OpenMenu();
  if (!menu) return false;
  for (int i = 0; i < position; ++i) PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  return WaitUntil([] { return FindWindowW(L"#32768", nullptr) == nullptr ||
                               !IsWindowVisible(FindWindowW(L"#32768", nullptr)); },
                   LivenessMs);
}

std::vector<std::string> LogLines(const ClientRun& client) { return Lines(ReadFileText(client.WebViewLog())); }

size_t CountLines(const ClientRun& client, const std::string& prefix) {
  const auto lines = LogLines(client);
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

HWND PageWindow(HWND parent) { return FindWindowExW(parent, nullptr, L"NorvWebViewPage", nullptr); }

bool SameSize(HWND page, HWND window) {
  RECT placed, area;
  GetClientRect(page, &placed);
  GetClientRect(window, &area);
  return placed.right == area.right && placed.bottom == area.bottom;
}

std::vector<unsigned long> BrowserPids(const ClientRun& client) {
  std::vector<unsigned long> pids;
  for (const auto& line : LogLines(client))
    if (line.rfind("Browser.started pid=", 0) == 0) pids.push_back(strtoul(line.c_str() + 20, nullptr, 10));
  return pids;
}

bool LinuxProcessRuns(unsigned long pid) {
  return GetFileAttributesW((L"Z:\\proc\\" + std::to_wstring(pid)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool KillLinuxProcess(unsigned long pid) {
  RunProcess(L"Z:\\bin\\bash", L"-c \"kill -KILL " + std::to_wstring(pid) + L"\"");
  // A Linux program's exit status does not reach us reliably; the process's end does.
  return WaitUntil([&] { return !LinuxProcessRuns(pid); }, LivenessMs);
}
