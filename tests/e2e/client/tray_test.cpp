// The tray as a user drives it, from outside the real client: the start-up
// balloon's trace after ten seconds, the menu chosen by keys, and Exit.
#include <gtest/gtest.h>
#include <algorithm>
#include "client_run.h"
#include "shell/app_state.h"

namespace {

constexpr DWORD BalloonWaitMs = 20000;  // the check runs 10 s after start

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

HWND OpenMenu() {
  HWND menu = nullptr;
  WaitUntil([&] { return (menu = FindWindowW(L"#32768", nullptr)) != nullptr && IsWindowVisible(menu); }, 10000);
  return menu;
}

// Right-click on the icon, then the item at `position` (1-based) by keys.
bool ChooseFromTrayMenu(HWND window, int position) {
  PostMessageW(window, WM_TRAYICON, 0, WM_RBUTTONDOWN);
  HWND menu = OpenMenu();
  if (!menu) return false;
  for (int i = 0; i < position; ++i) PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  return WaitUntil([] { return FindWindowW(L"#32768", nullptr) == nullptr ||
                               !IsWindowVisible(FindWindowW(L"#32768", nullptr)); },
                   5000);
}

TEST(TrayEndToEnd, ClosedTunnelThenConnectFromTheMenuThenExit) {
  DevService service;
  ASSERT_TRUE(service.Start(L"--state 0"));
  ClientOptions options;
  options.winbrandStandIn = true;
  ClientRun client(options);
  ASSERT_TRUE(client.Start());
  HWND window = client.WaitForWindow();
  ASSERT_NE(nullptr, window);
  ASSERT_TRUE(WaitUntil([&] { return client.Process().Stdout().find("tunnel closed") != std::string::npos; },
                        BalloonWaitMs));
  EXPECT_EQ("tunnel closed", client.Process().Stdout());  // no line end

  // Connect: the page's switch is off, so the first item is Connect.
  ASSERT_TRUE(ChooseFromTrayMenu(window, 1));
  ASSERT_TRUE(WaitUntil([&] { return Contains(service.Requests(), "PUT /api/connectLocation"); }, 10000));
  // The next menu is built from the switch now on: Disconnect, then Exit.
  ASSERT_TRUE(ChooseFromTrayMenu(window, 2));
  DWORD status = 1;
  ASSERT_TRUE(client.Process().Wait(10000, &status));
  EXPECT_EQ(0u, status);
  const auto webViewLog = Lines(ReadFileText(client.WebViewLog()));
  EXPECT_TRUE(Contains(webViewLog, "ExecuteScript.result false"));
  EXPECT_TRUE(Contains(webViewLog, "ExecuteScript.result true"));

  const auto requests = service.Requests();
  EXPECT_TRUE(Contains(requests, "PUT /api/brandByUser/Windows%2011%20Pro"));  // every interactive start
  EXPECT_EQ("PUT /api/closeByUser/1", requests.back());
  EXPECT_FALSE(Contains(requests, "PUT /api/disconnectLocation"));  // Exit leaves the tunnel to the service
}

TEST(TrayEndToEnd, OpenTunnelIsReported) {
  DevService service;
  ASSERT_TRUE(service.Start(L"--state 1"));
  ClientRun client;
  ASSERT_TRUE(client.Start());
  ASSERT_NE(nullptr, client.WaitForWindow());
  EXPECT_TRUE(WaitUntil([&] { return client.Process().Stdout() == "tunnel opened"; }, BalloonWaitMs));
  EXPECT_EQ(0, client.Exit());
}

TEST(TrayEndToEnd, NoServiceNoTraceAndExitStillWorks) {
  ClientRun client;
  ASSERT_TRUE(client.Start());
  ASSERT_NE(nullptr, client.WaitForWindow());
  Sleep(12000);  // past the check
  EXPECT_EQ("", client.Process().Stdout());
  EXPECT_EQ(0, client.Exit());
}

}  // namespace
