// The development web view runtime (the WebView2Loader.dll beside this test
// binary) driven through our declarations on a window of the test, with a
// real browser behind it: the host makes the environment, the controller and
// the view, records the events, and runs scripts through the message loop.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "support/test_support.h"
#include "webview/webview2.h"

// Dispatches this thread's messages until done() holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = LivenessMs);
// Dispatches messages for a while, whatever comes.
void PumpFor(DWORD milliseconds);

CreateEnvironmentWithOptionsFunction RuntimeEntry();

// The window of the given class that the page window of this process is, or
// the first top-level window of the class; null when there is none.
HWND FindChildOfClass(HWND parent, const wchar_t* className);
HWND FindOwnTopLevelWindow(const wchar_t* className);

// Whether the Linux process still runs (Wine maps / to Z:).
bool LinuxProcessRuns(unsigned long pid);

class RuntimeHost {
 public:
  RuntimeHost();
  ~RuntimeHost();
  RuntimeHost(const RuntimeHost&) = delete;
  RuntimeHost& operator=(const RuntimeHost&) = delete;

  // Environment, controller and view on the host window, each through the
  // message loop; the result of the first step that failed.
  HRESULT Start();
  // Navigates and waits for the document's web message (the host registers
  // the client's two document scripts first, unless told not to).
  bool Navigate(const std::wstring& url, size_t messagesBefore);
  std::wstring RunScript(const std::wstring& script);
  void AddClientScripts();

  std::vector<std::string> Log() const { return Lines(ReadFileText(logPath)); }
  bool LogHas(const std::string& line) const;
  bool WaitForLog(const std::string& line, DWORD timeoutMs = LivenessMs);
  // A page frame painted with something on it; "Frame.painted N" counts the
  // frames received, and one paint may take several, so N need not be 1.
  bool WaitForPaintedFrame();
  // The value after "name=" in the first log line with it, e.g. "pid".
  std::string LogValue(const std::string& name) const;
  // Releases view and controller (the last references close the browser).
  void Release();

  RunFolder folder;
  std::wstring logPath;
  HWND window = nullptr;
  ICoreWebView2Controller* controller = nullptr;
  ICoreWebView2* view = nullptr;
  std::vector<std::wstring> navigations;  // NavigationStarting Uris
  std::vector<std::wstring> messages;     // web messages as text, "<no text>" for a non-string
  std::vector<std::wstring> newWindows;   // NewWindowRequested, counted
};

// The body of GET http://127.0.0.1:<port><path> (the browser's DevTools HTTP
// endpoint), or empty.
std::string HttpGet(int port, const std::wstring& path);
// Client settings as the client applies them, and a page of our own.
void ApplyClientSettings(ICoreWebView2* view);
// Pixels of the window's client area that are not white.
int NonWhitePixels(HWND window);
