// The real client with the development web view runtime and the development
// service, driven from outside: what the runtime is asked for, in order, and
// after the proxy reset and the edition report; the
// page following the window through resize, hide and show; the view and the
// browser closed with the window, and the browser gone when the client is
// killed; and every way the runtime can fail, with the notice in the window.
#include <gtest/gtest.h>
#include <algorithm>
#include "client_run.h"
#include "shell/app_state.h"
#include "support/webview_calls.h"

namespace {

// The lines of `lines` that are in `wanted`, in their order.
std::vector<std::string> Only(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  std::vector<std::string> kept;
  for (const auto& line : lines)
    if (std::find(wanted.begin(), wanted.end(), line) != wanted.end()) kept.push_back(line);
  return kept;
}

RECT ClientAreaOf(HWND window) {
  RECT area;
  GetClientRect(window, &area);
  return area;
}

// Index of the first line starting with `prefix`, or -1.
int FirstLine(const std::vector<std::string>& lines, const std::string& prefix) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  return -1;
}

// One file in the order things happened: the service writes its line before
// it answers, the runtime writes before it invokes a handler of ours, and the
// client's standard error is appended to the same file.
TEST(WebViewHostEndToEnd, ProxyResetAndEditionReportComeBeforeTheFirstCallback) {
  DevService service;
  ASSERT_TRUE(service.Start());
  ClientOptions options;
  options.winbrandStandIn = true;
  options.environment = {L"NORV_WEBVIEW_LOG=" + service.LogPath()};
  options.stderrFile = service.LogPath();
  ClientRun client(options);
  ASSERT_TRUE(client.Start());
  ASSERT_NE(nullptr, client.WaitForWindow());
  ASSERT_TRUE(WaitUntil([&] { return FirstLine(service.LogLines(), "ControllerCompletedHandler.Release") >= 0; },
                        LivenessMs));
  const auto lines = service.LogLines();
  // The proxy reset has no request of its own; under Wine its last step, the
  // change announcement, fails with this line, which marks when it ran.
  const int proxyReset = FirstLine(lines, "Error propagating changes: 12009");
  const int editionReport = FirstLine(lines, "PUT /api/brandByUser/Windows%2011%20Pro\t");
  const int firstCallback = FirstLine(lines, "EnvironmentCompletedHandler.Invoke 0x00000000");
  ASSERT_GE(proxyReset, 0);
  ASSERT_GE(editionReport, 0);
  ASSERT_GE(firstCallback, 0);
  EXPECT_LT(proxyReset, editionReport);
  EXPECT_LT(editionReport, firstCallback);
  EXPECT_EQ(firstCallback, FirstLine(lines, "EnvironmentCompletedHandler.Invoke"));

  // The runtime let go of both start-up handlers, and that was the last
  // reference: the client released its own right after handing them over.
  auto releases = [&](const std::string& kind) {
    std::vector<std::string> found;
    for (const auto& line : lines)
      if (line.rfind(kind + ".Release ", 0) == 0) found.push_back(line);
    return found;
  };
  EXPECT_EQ((std::vector<std::string>{"EnvironmentCompletedHandler.Release 0"}),
            releases("EnvironmentCompletedHandler"));
  EXPECT_EQ((std::vector<std::string>{"ControllerCompletedHandler.Release 0"}), releases("ControllerCompletedHandler"));
  EXPECT_EQ(0, client.Exit());
}

// Any pixel in the window's middle rows that is not the window background.
bool PaintsSomething(HWND window) {
  RECT area = ClientAreaOf(window);
  HDC dc = GetDC(window);
  const COLORREF background = GetSysColor(COLOR_WINDOW);
  bool painted = false;
  for (int y = area.bottom / 2 - 12; y < area.bottom / 2 + 12 && !painted; ++y)
    for (int x = 0; x < area.right && !painted; x += 2) painted = GetPixel(dc, x, y) != background;
  ReleaseDC(window, dc);
  return painted;
}

TEST(WebViewHostEndToEnd, TheRuntimeGetsTheConfiguredViewInOrderAndThePageFollowsTheWindow) {
  DevService service;
  ASSERT_TRUE(service.Start());
  ClientRun client;
  HWND window = nullptr;
  ASSERT_NO_FATAL_FAILURE(StartWithPage(client, &window));

  const auto lines = LogLines(client);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(0u, lines[0].find("CreateCoreWebView2EnvironmentWithOptions browserFolder=null userDataFolder="));
  EXPECT_EQ(std::string::npos, lines[0].find("userDataFolder=null"));
  std::vector<std::string> sequence = {"Environment.CreateCoreWebView2Controller"};
  for (const auto& call : ConfigureViewCalls("")) sequence.push_back(call);
  sequence.insert(sequence.end(), {"Settings.Release 0", "NavigationStarting http://127.0.0.1:13001/",
                                   "NavigationStartingArgs.get_Uri", "WebMessageReceived http://127.0.0.1:13001/",
                                   "WebMessageArgs.TryGetWebMessageAsString"});
  EXPECT_EQ(sequence, Only(lines, sequence));
  EXPECT_EQ(1u, CountLines(client, "WebMessageReceived "));
  EXPECT_EQ(0u, CountLines(client, "NewWindowRequested"));

  // The page is drawn at the client area's size, and again after WM_SIZE.
  HWND page = PageWindow(window);
  ASSERT_NE(nullptr, page);
  ASSERT_TRUE(WaitUntil([&] { return CountLines(client, "Frame.painted ") > 0; }, LivenessMs));
  EXPECT_TRUE(SameSize(page, window));
  const size_t logged = LogLines(client).size();
  SendMessageW(window, WM_SIZE, SIZE_RESTORED, 0);
  const RECT area = ClientAreaOf(window);
  std::vector<std::string> controllerCalls;
  const auto after = LogLines(client);
  for (size_t i = logged; i < after.size(); ++i)
    if (after[i].compare(0, 11, "Controller.") == 0) controllerCalls.push_back(after[i]);
  EXPECT_EQ((std::vector<std::string>{"Controller.put_Bounds 0 0 " + std::to_string(area.right) + " " +
                                          std::to_string(area.bottom),
                                      "Controller.put_IsVisible 1", "Controller.put_ParentWindow"}),
            controllerCalls);
  EXPECT_TRUE(SameSize(page, window));

  // Hidden to the tray and shown again: drawn again, at the same size.
  SendMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, LivenessMs));
  const size_t framesBefore = CountLines(client, "Frame.painted ");
  PostMessageW(window, WM_TRAYICON, 0, WM_LBUTTONUP);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, LivenessMs));
  EXPECT_TRUE(WaitUntil([&] { return CountLines(client, "Frame.painted ") > framesBefore; }, LivenessMs));
  EXPECT_TRUE(IsWindowVisible(page));
  EXPECT_TRUE(SameSize(page, window));
  EXPECT_TRUE(PaintsSomething(window));

  EXPECT_EQ(0, client.Exit());
  const auto requests = service.Requests();
  EXPECT_NE(requests.end(), std::find(requests.begin(), requests.end(), "PUT /api/closeByUser/1"));
}

TEST(WebViewHostEndToEnd, TheViewAndTheBrowserEndWithTheWindowOrTheKilledClient) {
  DevService service;
  ASSERT_TRUE(service.Start());
  {
    ClientRun client;
    HWND window = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartWithPage(client, &window));
    const unsigned long browser = BrowserPids(client).front();
    ASSERT_TRUE(LinuxProcessRuns(browser));
    // WM_DESTROY: the view and its page are closed, then the browser ends.
    PostMessageW(window, WM_DESTROY, 0, 0);
    DWORD status = 1;
    ASSERT_TRUE(client.Process().Wait(LivenessMs, &status));
    EXPECT_EQ(0u, status);
    EXPECT_EQ(1u, CountLines(client, "Controller.Close"));
    EXPECT_EQ(1u, CountLines(client, "WebView.closed target "));
    EXPECT_TRUE(WaitUntil([&] { return !LinuxProcessRuns(browser); }, LivenessMs));
  }
  {
    ClientRun client;
    ASSERT_TRUE(client.Start());
    ASSERT_NE(nullptr, client.WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return !BrowserPids(client).empty(); }, LivenessMs));
    const unsigned long browser = BrowserPids(client).front();
    client.Process().Kill();
    EXPECT_TRUE(WaitUntil([&] { return !LinuxProcessRuns(browser); }, LivenessMs)) << "the browser outlived its client";
  }
}

TEST(WebViewHostEndToEnd, WhereverTheRuntimeFailsTheWindowShowsANoticeAndKeepsWorking) {
  struct Case {
    const char* what;
    bool runtime;
    std::vector<std::wstring> environment;
  };
  const Case cases[] = {
      {"no runtime beside the client", false, {}},
      {"no browser installed", true, {L"NORV_WEBVIEW_BROWSER=/nonexistent/chromium"}},
      {"a browser that exits during start", true, {L"NORV_WEBVIEW_BROWSER=/bin/false"}},
      {"a browser that does not start in time", true, {L"NORV_WEBVIEW_START_TIMEOUT_MS=1"}},
  };
  // A loader in the current folder or on PATH is not the one beside us.
  StrayCopies strays(HostPathFromEnv("NORV_WEBVIEW_RUNTIME"), L"WebView2Loader.dll");
  for (const auto& entry : cases) {
    ClientOptions options;
    options.webViewRuntime = entry.runtime;
    options.environment = entry.environment;
    if (!entry.runtime) strays.ApplyTo(&options);
    ClientRun client(options);
    ASSERT_TRUE(client.Start()) << entry.what;
    HWND window = client.WaitForWindow();
    ASSERT_NE(nullptr, window) << entry.what;
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, LivenessMs));
    EXPECT_TRUE(WaitUntil([&] { return PaintsSomething(window); }, LivenessMs)) << entry.what;
    EXPECT_EQ(nullptr, PageWindow(window)) << entry.what;
    if (!entry.runtime) {
      EXPECT_TRUE(LogLines(client).empty()) << "a stray runtime was loaded";
    }
    // The tray still works: hide and show again, then Exit.
    PostMessageW(window, WM_TRAYICON, 0, WM_LBUTTONUP);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, LivenessMs)) << entry.what;
    PostMessageW(window, WM_TRAYICON, 0, WM_LBUTTONUP);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, LivenessMs)) << entry.what;
    EXPECT_EQ(0, client.Exit()) << entry.what;
  }
}

}  // namespace
