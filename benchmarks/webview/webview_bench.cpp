// The development web view runtime's costs, side by side in one run:
//  - start to the first painted page frame: the client with the runtime
//    against Chromium alone loading and painting the same page (a headless
//    screenshot), alternating, medians;
//  - one ExecuteScript round trip through the runtime against one loopback
//    request to the development service, alternating, medians.
#include <windows.h>
#include <winhttp.h>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>
#include "support/test_support.h"
#include "webview/handler.h"

namespace {

constexpr int Starts = 7;
constexpr int RoundTrips = 101;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

double NowMs() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return count.QuadPart * 1000.0 / frequency.QuadPart;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
  return true;
}

bool LogHas(const std::wstring& log, const std::string& line) {
  for (const auto& entry : Lines(ReadFileText(log)))
    if (entry == line) return true;
  return false;
}

// The client from a folder of its own: start to "Frame.painted 1", then Exit.
double ClientFirstFrame(const RunFolder& folder) {
  const std::wstring log = folder.File(L"webview.log");
  DeleteFileW(log.c_str());
  ChildProcess client;
  const double start = NowMs();
  if (!client.Start(folder.File(L"norvvpnui.exe"), L"", {L"NORV_WEBVIEW_LOG=" + log}, folder.Path())) return -1;
  double painted = -1;
  for (DWORD waited = 0; waited < 60000; waited += 2) {
    if (LogHas(log, "Frame.painted 1")) {
      painted = NowMs() - start;
      break;
    }
    Sleep(2);
  }
  HWND window = FindWindowW(L"NorvVpnUI", nullptr);
  if (window) PostMessageW(window, WM_COMMAND, 4661, 0);
  client.Wait(15000);
  Sleep(1500);  // the browser's watchdog lets go of the profile
  return painted;
}

std::wstring LinuxPath(const std::wstring& windowsPath) {
  using ToUnix = char*(CDECL*)(const WCHAR*);
  static auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix = toUnix ? toUnix(windowsPath.c_str()) : nullptr;
  if (!unix) return std::wstring();
  std::wstring path = Widen(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

// Chromium alone, headless, with the runtime's switches: start to the
// screenshot of the page written.
double ChromiumScreenshot(const std::wstring& profile, const std::wstring& shot) {
  DeleteFileW(shot.c_str());
  std::wstring command =
      L"/usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      L"--no-default-browser-check --disable-background-networking --disable-component-update --disable-sync "
      L"--enable-automation --mute-audio --window-size=384,601 --user-data-dir=\"" + LinuxPath(profile) +
      L"\" --screenshot=\"" + LinuxPath(shot) + L"\" http://127.0.0.1:13001/";
  // Its diagnostics go nowhere, as the runtime sends them to a log.
  command = L"/bin/bash -c \"exec \\\"$0\\\" \\\"$@\\\" >/dev/null 2>&1\" " + command;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  const double start = NowMs();
  const BOOL started = CreateProcessW(L"Z:\\bin\\bash", &command[0], nullptr, nullptr, FALSE, DETACHED_PROCESS,
                                      nullptr, nullptr, &startup, &info);
  if (!started) return -1;
  double written = -1;
  for (DWORD waited = 0; waited < 60000; waited += 2) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(shot.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > 0) {
      written = NowMs() - start;
      break;
    }
    Sleep(2);
  }
  Sleep(1500);  // let it exit
  return written;
}

struct View {
  ICoreWebView2Controller* controller = nullptr;
  ICoreWebView2* view = nullptr;
};

View OpenView(HWND window, const std::wstring& runtime, const std::wstring& folder, const std::wstring& log) {
  View opened;
  HMODULE module = LoadLibraryW(runtime.c_str());
  auto create = module ? reinterpret_cast<CreateEnvironmentWithOptionsFunction>(
                             reinterpret_cast<void*>(GetProcAddress(module, CreateEnvironmentExport)))
                       : nullptr;
  if (!create) return opened;
  ICoreWebView2Environment* environment = nullptr;
  bool done = false;
  auto* environmentDone = MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [&](HRESULT, ICoreWebView2Environment* created) {
        environment = created;
        if (environment) environment->AddRef();
        done = true;
      });
  create(nullptr, folder.c_str(), nullptr, environmentDone);
  environmentDone->Release();
  PumpUntil([&] { return done; }, 60000);
  if (!environment) return opened;
  done = false;
  auto* controllerDone = MakeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
      [&](HRESULT, ICoreWebView2Controller* created) {
        opened.controller = created;
        if (created) created->AddRef();
        done = true;
      });
  environment->CreateCoreWebView2Controller(window, controllerDone);
  controllerDone->Release();
  environment->Release();
  PumpUntil([&] { return done; }, 60000);
  if (!opened.controller) return opened;
  opened.controller->get_CoreWebView2(&opened.view);
  opened.view->Navigate(L"http://127.0.0.1:13001/");
  PumpUntil([&] { return LogHas(log, "Frame.painted 1"); }, 60000);
  return opened;
}

double ScriptRoundTrip(ICoreWebView2* view) {
  bool done = false;
  auto* completion = MakeHandler<ICoreWebView2ExecuteScriptCompletedHandler>([&](HRESULT, LPCWSTR) { done = true; });
  const double start = NowMs();
  view->ExecuteScript(L"document.getElementById('vpn_switch').checked;", completion);
  completion->Release();
  PumpUntil([&] { return done; }, 10000);
  return NowMs() - start;
}

double ServiceRoundTrip(HINTERNET session) {
  const double start = NowMs();
  HINTERNET connection = WinHttpConnect(session, L"127.0.0.1", 13001, 0);
  HINTERNET request = WinHttpOpenRequest(connection, L"GET", L"/api/getTunnelStat", nullptr, nullptr, nullptr, 0);
  if (WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr)) {
    char buffer[256];
    DWORD got = 0;
    while (WinHttpReadData(request, buffer, sizeof buffer, &got) && got > 0) {
    }
  }
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  return NowMs() - start;
}

}  // namespace

int main() {
  const std::wstring client = HostPathFromEnv("NORV_CLIENT_EXE");
  const std::wstring runtime = HostPathFromEnv("NORV_WEBVIEW_RUNTIME");
  const std::wstring winbrand = HostPathFromEnv("NORV_WINBRAND_DLL");
  DevService service;
  if (client.empty() || runtime.empty() || !service.Start()) {
    fprintf(stderr, "webview-bench: needs NORV_CLIENT_EXE, NORV_WEBVIEW_RUNTIME, NORV_WINBRAND_DLL and NORV_LOCAL_SERVICE\n");
    return 2;
  }
  RunFolder clientFolder, chromiumFolder;
  clientFolder.Copy(client);
  clientFolder.Copy(runtime, L"WebView2Loader.dll");
  clientFolder.Copy(winbrand, L"winbrand.dll");
  const std::wstring profile = chromiumFolder.File(L"profile");
  CreateDirectoryW(profile.c_str(), nullptr);

  // One of each first, so both start warm.
  ClientFirstFrame(clientFolder);
  ChromiumScreenshot(profile, chromiumFolder.File(L"shot.png"));
  std::vector<double> clientTimes, chromiumTimes;
  for (int i = 0; i < Starts; ++i) {
    clientTimes.push_back(ClientFirstFrame(clientFolder));
    chromiumTimes.push_back(ChromiumScreenshot(profile, chromiumFolder.File(L"shot.png")));
  }
  const double clientMs = Median(clientTimes), chromiumMs = Median(chromiumTimes);
  printf("start to first painted page frame (median of %d, alternating)\n", Starts);
  printf("  client with the runtime     %8.0f ms\n", clientMs);
  printf("  Chromium alone (screenshot) %8.0f ms\n", chromiumMs);
  printf("  ratio                       %8.2f\n", chromiumMs > 0 ? clientMs / chromiumMs : 0.0);

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  RunFolder viewFolder;
  const std::wstring log = viewFolder.File(L"webview.log");
  SetEnvironmentVariableW(L"NORV_WEBVIEW_LOG", log.c_str());
  HWND window = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 640, nullptr,
                                nullptr, nullptr, nullptr);
  View view = OpenView(window, runtime, viewFolder.Path(), log);
  if (!view.view) {
    fprintf(stderr, "webview-bench: no view\n");
    return 1;
  }
  SetEnvironmentVariableW(L"NORV_WEBVIEW_LOG", nullptr);  // the log itself would be measured
  HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  std::vector<double> scripts, requests;
  for (int i = 0; i < RoundTrips; ++i) {
    scripts.push_back(ScriptRoundTrip(view.view));
    requests.push_back(ServiceRoundTrip(session));
  }
  const double scriptMs = Median(scripts), requestMs = Median(requests);
  printf("one round trip (median of %d, alternating)\n", RoundTrips);
  printf("  ExecuteScript through the runtime   %7.2f ms\n", scriptMs);
  printf("  GET api/getTunnelStat over WinHTTP  %7.2f ms\n", requestMs);
  printf("  ratio                               %7.2f\n", requestMs > 0 ? scriptMs / requestMs : 0.0);
  WinHttpCloseHandle(session);
  view.view->Release();
  view.controller->Release();
  PumpUntil([] { return false; }, 1500);
  return 0;
}
