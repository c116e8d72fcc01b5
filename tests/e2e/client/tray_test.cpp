// The tray as the taskbar gets it from the real client, driven from outside:
// the icon and its tip, the balloon ten seconds after start, the menu chosen
// by keys, and the icon's removal on each way out.
#include <gtest/gtest.h>
#include <algorithm>
#include "client_run.h"
#include <shellapi.h>
#include "shell/app_state.h"
#include "support/taskbar.h"

namespace {

constexpr DWORD BalloonWaitMs = 10000 + LivenessMs;  // the check runs 10 s after start

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

ClientOptions WithoutStandIns() {
  ClientOptions options;
  options.webViewRuntime = false;
  return options;
}

// Starts the client and waits for its window and its icon.
void StartAndFindIcon(ClientRun& client, HWND* window, TrayIcon* icon) {
  ASSERT_TRUE(client.Start());
  *window = client.WaitForWindow();
  ASSERT_NE(nullptr, *window);
  ASSERT_TRUE(WaitUntil([&] { return FindTrayIcon(*window, icon); }, LivenessMs));
  EXPECT_EQ(L"NorvVPN", icon->tip);
  EXPECT_EQ(1u, icon->id);
  EXPECT_EQ(1124u, icon->callbackMessage);
  EXPECT_EQ(7u, icon->addFlags);  // message, icon and tip
}

// The client ends with status 0 and has removed its icon: the taskbar keeps
// the icon of a window that is gone until it is removed, as on Windows.
void ExpectEndedWithoutIcon(ClientRun& client, HWND window) {
  DWORD status = 1;
  ASSERT_TRUE(client.Process().Wait(LivenessMs, &status));
  EXPECT_EQ(0u, status);
  EXPECT_FALSE(FindTrayIcon(window)) << "the icon outlived the client";
}

// The check's trace comes at the time of its request.
void ExpectTraceAfterTenSeconds(ChildProcess& client, DWORD startTick, const std::string& trace) {
  ASSERT_TRUE(WaitUntil([&] { return client.Stdout() == trace; }, BalloonWaitMs));
  EXPECT_GE(GetTickCount() - startTick, 10000u) << "the state was checked before 10 s";
}

// The balloon for the client's icon, as the taskbar got it.
void ExpectBalloon(HWND window, DWORD startTick, const std::wstring& text, DWORD infoFlags) {
  TrayIcon icon;
  ASSERT_TRUE(WaitUntil([&] { return FindTrayIcon(window, &icon) && icon.balloonTick != 0; }, BalloonWaitMs));
  EXPECT_GE(icon.balloonTick - startTick, 10000u) << "the balloon came before 10 s";
  EXPECT_EQ(text, icon.balloonText);
  EXPECT_EQ(L"NorvVPN", icon.balloonTitle);
  EXPECT_EQ(infoFlags, icon.balloonFlags);
  EXPECT_EQ(L"NorvVPN", icon.tip);  // the tooltip stays
}

TEST(TrayIcon, ThereFromStartStaysWhileHiddenAndGoesWhenTheLoopEndsHidden) {
  ClientRun client(WithoutStandIns());
  HWND window = nullptr;
  TrayIcon icon;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));

  SendMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, LivenessMs));
  ASSERT_TRUE(MessageLoopAnswers(window));
  ASSERT_TRUE(FindTrayIcon(window, &icon));
  EXPECT_EQ(L"NorvVPN", icon.tip);

  // The loop ends with no handler of ours involved: start-up removes the icon.
  PostThreadMessageW(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 0, 0);
  ExpectEndedWithoutIcon(client, window);
}

TEST(TrayIcon, ExitRemovesIt) {
  ClientRun client(WithoutStandIns());
  HWND window = nullptr;
  TrayIcon icon;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));
  PostMessageW(window, WM_COMMAND, IDM_EXIT, 0);
  ExpectEndedWithoutIcon(client, window);
}

TEST(TrayIcon, DestroyRemovesItAndLetsTheViewsHandlersGo) {
  DevService service;
  ASSERT_TRUE(service.Start(L"--state 0"));
  ClientRun client;
  HWND window = nullptr;
  TrayIcon icon;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));
  ASSERT_TRUE(WaitUntil(
      [&] { return Contains(LogLines(client), "WebView.add_WebMessageReceived"); }, LivenessMs));
  // Another process cannot destroy the window; the message alone takes the
  // WM_DESTROY path, and the window stays visible for the end of the loop.
  PostMessageW(window, WM_DESTROY, 0, 0);
  ExpectEndedWithoutIcon(client, window);
  EXPECT_EQ((std::vector<std::string>{"GET /api/getTunnelStat"}), service.Requests("NorvVpn Windows"));

  // Closing the view releases what it held of ours, and that was all.
  const auto log = LogLines(client);
  for (const std::string kind :
       {"NavigationStartingHandler", "NewWindowRequestedHandler", "WebMessageReceivedHandler"}) {
    std::string last;
    for (const auto& line : log)
      if (line.rfind(kind + ".Release ", 0) == 0) last = line;
    EXPECT_EQ(kind + ".Release 0", last);
  }
}

TEST(TrayEndToEnd, ClosedTunnelThenConnectFromTheMenuThenExit) {
  DevService service;
  ASSERT_TRUE(service.Start(L"--state 0"));
  ClientOptions options;
  options.winbrandStandIn = true;
  ClientRun client(options);
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  TrayIcon icon;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));
  ExpectTraceAfterTenSeconds(client.Process(), start, "tunnel closed");  // no line end
  ExpectBalloon(window, start, L"NorvVPN Disconnected", NIIF_INFO);

  // Connect: the page's switch is off, so the first item is Connect.
  ASSERT_TRUE(ChooseFromTrayMenu(window, 1));
  // The click that sent it turned the page's switch on.
  ASSERT_TRUE(WaitUntil([&] { return Contains(service.Requests(), "PUT /api/connectLocation"); }, LivenessMs));
  // The next menu is built from the switch now on: Disconnect, then Exit.
  ASSERT_TRUE(ChooseFromTrayMenu(window, 2));
  DWORD status = 1;
  ASSERT_TRUE(client.Process().Wait(LivenessMs, &status));
  EXPECT_EQ(0u, status);
  const auto webViewLog = LogLines(client);
  EXPECT_TRUE(Contains(webViewLog, "ExecuteScript.result false"));
  EXPECT_TRUE(Contains(webViewLog, "ExecuteScript.result true"));

  // The client's own requests: the page polls the tunnel until its browser ends.
  const auto requests = service.Requests("NorvVpn Windows");
  EXPECT_TRUE(Contains(requests, "PUT /api/brandByUser/Windows%2011%20Pro"));  // every interactive start
  EXPECT_EQ("PUT /api/closeByUser/1", requests.back());
  // Exit leaves the tunnel to the service, and so does the page.
  EXPECT_FALSE(Contains(service.Requests(), "PUT /api/disconnectLocation"));
}

TEST(TrayEndToEnd, OpenTunnelIsReported) {
  DevService service;
  ASSERT_TRUE(service.Start(L"--state 1"));
  ClientRun client;
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  TrayIcon icon;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));
  ExpectTraceAfterTenSeconds(client.Process(), start, "tunnel opened");
  ExpectBalloon(window, start, L"NorvVPN Connected", NIIF_INFO);
  EXPECT_EQ(0, client.Exit());
}

TEST(TrayEndToEnd, NoServiceWarnsWithoutATraceAndExitStillWorks) {
  ClientRun client;
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  TrayIcon icon;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));
  ExpectBalloon(window, start, L"NorvVPN service not loaded, please reinstall", NIIF_WARNING);
  EXPECT_EQ("", client.Process().Stdout());
  EXPECT_EQ(0, client.Exit());
}

}  // namespace
