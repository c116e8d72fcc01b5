// The real client with the stand-in web view runtime and the development
// service: what the runtime is asked for, in order; and without a runtime,
// the notice in the window while the rest keeps working.
#include <gtest/gtest.h>
#include <algorithm>
#include "client_run.h"
#include "shell/app_state.h"
#include "support/webview_calls.h"

namespace {

std::vector<std::string> LogLines(const ClientRun& client) { return Lines(ReadFileText(client.WebViewLog())); }

bool LogHas(const ClientRun& client, const std::string& line) {
  const auto lines = LogLines(client);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The lines of `lines` that are in `wanted`, in their order.
std::vector<std::string> Only(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  std::vector<std::string> kept;
  for (const auto& line : lines)
    if (std::find(wanted.begin(), wanted.end(), line) != wanted.end()) kept.push_back(line);
  return kept;
}

HWND FirstChild(HWND parent) { return FindWindowExW(parent, nullptr, nullptr, nullptr); }

TEST(WebViewHostEndToEnd, StandInGetsTheConfiguredViewInOrder) {
  DevService service;
  ASSERT_TRUE(service.Start());
  ClientRun client;
  ASSERT_TRUE(client.Start());
  HWND window = client.WaitForWindow();
  ASSERT_NE(nullptr, window);
  ASSERT_TRUE(WaitUntil([&] { return LogHas(client, "WebMessageReceived http://127.0.0.1:13001"); }, 15000));
  EXPECT_NE(nullptr, FirstChild(window));  // the stand-in's view window lives in ours

  const auto lines = LogLines(client);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(0u, lines[0].find("CreateCoreWebView2EnvironmentWithOptions browserFolder=null userDataFolder="));
  EXPECT_EQ(std::string::npos, lines[0].find("userDataFolder=null"));
  std::vector<std::string> sequence = {"Environment.CreateCoreWebView2Controller"};
  for (const auto& call : ConfigureViewCalls("")) sequence.push_back(call);
  sequence.insert(sequence.end(), {"Settings.Release 0", "NavigationStarting http://127.0.0.1:13001",
                                   "NavigationStartingArgs.get_Uri", "WebMessageReceived http://127.0.0.1:13001",
                                   "WebMessageArgs.TryGetWebMessageAsString"});

  EXPECT_EQ(sequence, Only(lines, sequence));
  // One web message per navigation.
  EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "WebMessageReceived http://127.0.0.1:13001"));
  // The view follows the window: bounds, visible, parent on every WM_SIZE.
  SendMessageW(window, WM_SIZE, SIZE_RESTORED, 0);
  RECT area;
  GetClientRect(window, &area);
  const auto after = LogLines(client);
  ASSERT_GE(after.size(), 3u);
  EXPECT_EQ((std::vector<std::string>{"Controller.put_Bounds 0 0 " + std::to_string(area.right) + " " +
                                          std::to_string(area.bottom),
                                      "Controller.put_IsVisible 1", "Controller.put_ParentWindow"}),
            std::vector<std::string>(after.end() - 3, after.end()));

  EXPECT_EQ(0, client.Exit());
  const auto requests = service.Requests();
  EXPECT_NE(requests.end(), std::find(requests.begin(), requests.end(), "PUT /api/closeByUser/1"));
}

// Any pixel in the client area that is not the window background.
bool PaintsSomething(HWND window) {
  RECT area;
  GetClientRect(window, &area);
  HDC dc = GetDC(window);
  const COLORREF background = GetSysColor(COLOR_WINDOW);
  bool painted = false;
  for (int y = area.bottom / 2 - 12; y < area.bottom / 2 + 12 && !painted; ++y)
    for (int x = 0; x < area.right && !painted; x += 2) painted = GetPixel(dc, x, y) != background;
  ReleaseDC(window, dc);
  return painted;
}

TEST(WebViewHostEndToEnd, WithoutRuntimeTheWindowShowsANoticeAndKeepsWorking) {
  ClientOptions options;
  options.webViewStandIn = false;
  ClientRun client(options);
  ASSERT_TRUE(client.Start());
  HWND window = client.WaitForWindow();
  ASSERT_NE(nullptr, window);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 10000));
  EXPECT_TRUE(WaitUntil([&] { return PaintsSomething(window); }, 10000));
  EXPECT_EQ(nullptr, FirstChild(window));
  // Tray still works: hide and show again.
  PostMessageW(window, WM_TRAYICON, 0, WM_LBUTTONUP);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, 5000));
  PostMessageW(window, WM_TRAYICON, 0, WM_LBUTTONUP);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000));
  EXPECT_EQ(0, client.Exit());
}

}  // namespace
