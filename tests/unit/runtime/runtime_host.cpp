#include "runtime_host.h"
#include <algorithm>
#include <winhttp.h>
#include "webview/handler.h"
#include "webview/webview_host.h"

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

void PumpFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  PumpUntil([&] { return GetTickCount() - start >= milliseconds; }, milliseconds + 1000);
}

CreateEnvironmentWithOptionsFunction RuntimeEntry() {
  // Kept loaded: its window classes and threads outlive a test.
  static HMODULE module = LoadLibraryW(L"WebView2Loader.dll");
  return module ? reinterpret_cast<CreateEnvironmentWithOptionsFunction>(
                      reinterpret_cast<void*>(GetProcAddress(module, CreateEnvironmentExport)))
                : nullptr;
}

HWND FindChildOfClass(HWND parent, const wchar_t* className) {
  return FindWindowExW(parent, nullptr, className, nullptr);
}

HWND FindOwnTopLevelWindow(const wchar_t* className) {
  for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window;
       window = FindWindowExW(nullptr, window, className, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == GetCurrentProcessId()) return window;
  }
  return nullptr;
}

bool LinuxProcessRuns(unsigned long pid) {
  return pid != 0 && GetFileAttributesW((L"Z:\\proc\\" + std::to_wstring(pid)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

RuntimeHost::RuntimeHost() : logPath(folder.File(L"webview.log")) {
  SetEnvironmentVariableW(L"NORV_WEBVIEW_LOG", logPath.c_str());
  window = CreateWindowExW(0, L"STATIC", L"runtime host", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                           420, 680, nullptr, nullptr, nullptr, nullptr);
}

RuntimeHost::~RuntimeHost() {
  Release();
  if (window) DestroyWindow(window);
  PumpFor(100);
  SetEnvironmentVariableW(L"NORV_WEBVIEW_LOG", nullptr);
}

void RuntimeHost::Release() {
  if (view) view->Release();
  if (controller) controller->Release();
  view = nullptr;
  controller = nullptr;
}

HRESULT RuntimeHost::Start() {
  auto create = RuntimeEntry();
  if (!create) return E_NOINTERFACE;
  HRESULT result = E_PENDING;
  ICoreWebView2Environment* environment = nullptr;
  auto* environmentDone = MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [&](HRESULT code, ICoreWebView2Environment* created) {
        result = code;
        environment = created;
        if (environment) environment->AddRef();
      });
  HRESULT called = create(nullptr, folder.Path().c_str(), nullptr, environmentDone);
  environmentDone->Release();
  if (FAILED(called)) return called;
  if (!PumpUntil([&] { return result != E_PENDING; })) return E_PENDING;
  if (!environment) return result;

  result = E_PENDING;
  auto* controllerDone = MakeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
      [&](HRESULT code, ICoreWebView2Controller* created) {
        result = code;
        controller = created;
        if (controller) controller->AddRef();
      });
  called = environment->CreateCoreWebView2Controller(window, controllerDone);
  controllerDone->Release();
  environment->Release();
  if (FAILED(called)) return called;
  if (!PumpUntil([&] { return result != E_PENDING; })) return E_PENDING;
  if (!controller) return result;
  controller->get_CoreWebView2(&view);

  EventRegistrationToken token;
  auto* navigation = MakeHandler<ICoreWebView2NavigationStartingEventHandler>(
      [this](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
        LPWSTR uri = nullptr;
        if (SUCCEEDED(args->get_Uri(&uri)) && uri) {
          navigations.push_back(uri);
          CoTaskMemFree(uri);
        }
      });
  view->add_NavigationStarting(navigation, &token);
  navigation->Release();
  auto* message = MakeHandler<ICoreWebView2WebMessageReceivedEventHandler>(
      [this](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
        LPWSTR text = nullptr;
        if (SUCCEEDED(args->TryGetWebMessageAsString(&text)) && text) {
          messages.push_back(text);
          CoTaskMemFree(text);
        } else {
          messages.push_back(L"<no text>");
        }
      });
  view->add_WebMessageReceived(message, &token);
  message->Release();
  auto* newWindow = MakeHandler<ICoreWebView2NewWindowRequestedEventHandler>(
      [this](ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs*) { newWindows.push_back(L"requested"); });
  view->add_NewWindowRequested(newWindow, &token);
  newWindow->Release();
  return result;
}

void RuntimeHost::AddClientScripts() {
  view->AddScriptToExecuteOnDocumentCreated(L"Object.freeze(Object);", nullptr);
  view->AddScriptToExecuteOnDocumentCreated(
      L"window.chrome.webview.addEventListener('message', event => alert(event.data));"
      L"window.chrome.webview.postMessage(window.document.URL);",
      nullptr);
}

bool RuntimeHost::Navigate(const std::wstring& url, size_t messagesBefore) {
  if (FAILED(view->Navigate(url.c_str()))) return false;
  return PumpUntil([&] { return messages.size() > messagesBefore; });
}

std::wstring RuntimeHost::RunScript(const std::wstring& script) {
  std::wstring result = L"<no completion>";
  bool delivered = false;
  auto* done = MakeHandler<ICoreWebView2ExecuteScriptCompletedHandler>([&](HRESULT, LPCWSTR json) {
    result = json;
    delivered = true;
  });
  HRESULT called = view->ExecuteScript(script.c_str(), done);
  done->Release();
  if (FAILED(called)) return L"<failed>";
  PumpUntil([&] { return delivered; });
  return result;
}

bool RuntimeHost::LogHas(const std::string& line) const {
  const auto lines = Log();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool RuntimeHost::WaitForLog(const std::string& line, DWORD timeoutMs) {
  return PumpUntil([&] { return LogHas(line); }, timeoutMs);
}

bool RuntimeHost::WaitForPaintedFrame() {
  // The first frames of a new document can still be blank.
  return PumpUntil([&] {
    HWND page = FindChildOfClass(window, L"NorvWebViewPage");
    return HasPaintedFrame(Log()) && page && NonWhitePixels(page) > 0;
  });
}

std::string RuntimeHost::LogValue(const std::string& name) const {
  for (const auto& line : Log()) {
    size_t at = line.find(" " + name + "=");
    if (at == std::string::npos) continue;
    at += name.size() + 2;
    return line.substr(at, line.find(' ', at) - at);
  }
  return std::string();
}

std::string HttpGet(int port, const std::wstring& path) {
  std::string body;
  HINTERNET session = WinHttpOpen(L"runtime test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", static_cast<INTERNET_PORT>(port), 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, nullptr, nullptr, 0)
                                 : nullptr;
  if (request && WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr)) {
    char buffer[4096];
    DWORD got = 0;
    while (WinHttpReadData(request, buffer, sizeof buffer, &got) && got > 0) body.append(buffer, got);
  }
  for (HINTERNET handle : {request, connection, session})
    if (handle) WinHttpCloseHandle(handle);
  return body;
}

void ApplyClientSettings(ICoreWebView2* view) {
  ICoreWebView2Settings* settings = nullptr;
  view->get_Settings(&settings);
  ApplySettings(settings);
  settings->Release();
}

int NonWhitePixels(HWND window) {
  RECT area;
  GetClientRect(window, &area);
  HDC dc = GetDC(window);
  int count = 0;
  for (int y = 0; y < area.bottom; y += 3)
    for (int x = 0; x < area.right; x += 3)
      if ((GetPixel(dc, x, y) & 0xFFFFFF) != 0xFFFFFF) ++count;
  ReleaseDC(window, dc);
  return count;
}
