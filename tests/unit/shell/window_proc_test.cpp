// The window procedure on the real main window: hiding to the tray, the tray
// icon's callbacks, the web view following the window, the menu commands, and
// the tear-down on WM_DESTROY.
#include "main_window_fixture.h"
#include "support/test_support.h"
#include "support/scripted_server.h"

namespace {

TEST_F(MainWindowProc, CloseHidesToTrayAndLeftClickToggles) {
  EXPECT_EQ(0, Send(WM_CLOSE, 0, 0));
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_FALSE(IsWindowVisible(window_));
  EXPECT_EQ(1, HiddenToTray);

  EXPECT_EQ(0, Send(WM_TRAYICON, 0, WM_LBUTTONUP));
  EXPECT_TRUE(IsWindowVisible(window_));
  EXPECT_FALSE(IsIconic(window_));
  EXPECT_EQ(0, HiddenToTray);

  EXPECT_EQ(0, Send(WM_TRAYICON, 0, WM_LBUTTONUP));
  EXPECT_FALSE(IsWindowVisible(window_));
  EXPECT_EQ(1, HiddenToTray);

  // Moves, double clicks and other callbacks change nothing.
  for (LPARAM other : {WM_MOUSEMOVE, WM_LBUTTONDBLCLK, WM_LBUTTONDOWN, WM_RBUTTONUP, 0x400 + 2}) {
    EXPECT_EQ(0, Send(WM_TRAYICON, 0, other));
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_EQ(1, HiddenToTray);
  }
  EXPECT_TRUE(log_.calls.empty());
}

TEST_F(MainWindowProc, WebViewFollowsEverySize) {
  EXPECT_EQ(0, Send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(10, 10)));  // no controller yet: nothing
  GiveWebView();
  RECT area;
  GetClientRect(window_, &area);
  EXPECT_EQ(0, Send(WM_SIZE, SIZE_RESTORED, 0));
  EXPECT_EQ((std::vector<std::string>{
                "Controller.put_Bounds 0 0 " + std::to_string(area.right) + " " + std::to_string(area.bottom),
                "Controller.put_IsVisible 1", "Controller.put_ParentWindow"}),
            log_.calls);
  log_.calls.clear();
  ShowWindow(window_, SW_MINIMIZE);  // minimised too, with whatever rectangle the window has then
  EXPECT_EQ(3u, log_.calls.size());
}

TEST_F(MainWindowProc, SwitchCommandNeedsTheViewAndOtherIdsGoToDefault) {
  EXPECT_EQ(0, Send(WM_COMMAND, IDM_SWITCH, 0));
  EXPECT_EQ(0, Send(WM_COMMAND, 4242, 0));
  EXPECT_FALSE(QuitPosted());
  GiveWebView();
  EXPECT_EQ(0, Send(WM_COMMAND, MAKEWPARAM(IDM_SWITCH, 0), 0));
  EXPECT_EQ((std::vector<std::string>{"WebView.ExecuteScript document.getElementById('vpn_switch').click();"}),
            log_.calls);
  ASSERT_NE(nullptr, view_.scriptCompletion);
  EXPECT_EQ(S_OK, view_.scriptCompletion->Invoke(S_OK, L"null"));
  view_.scriptCompletion->AddRef();
  EXPECT_EQ(1u, view_.scriptCompletion->Release());  // the maker let go of its own reference
}

TEST_F(MainWindowProc, DestroyClosesTheViewThenAsksTheServiceThenRemovesTheIconAndQuits) {
  AddIcon();
  GiveWebView();
  std::vector<std::string> callsAtRequest;
  bool iconAtRequest = false;
  ScriptedServer server;
  server.Add(ReplyAfter(
      [&] {
        callsAtRequest = log_.calls;
        iconAtRequest = OurIconShown();
      },
      200, "{\"status\":1}"));
  server.Add(Reply(200, "{\"closed\":true}"));
  StdStreamCapture out(STD_OUTPUT_HANDLE);
  DestroyWindow(window_);

  EXPECT_EQ((std::vector<std::string>{"Controller.put_IsVisible 0", "Controller.Close"}), callsAtRequest);
  EXPECT_TRUE(iconAtRequest);
  EXPECT_EQ((std::vector<std::string>{"GET /api/getTunnelStat", "PUT /api/disconnectLocation"}),
            RequestLines(server));
  EXPECT_EQ("close tunnel{\"closed\":true}", out.Text());
  EXPECT_FALSE(OurIconShown());
  EXPECT_TRUE(QuitPosted());
  EXPECT_EQ(nullptr, WebViewController.Get());
  EXPECT_EQ(nullptr, WebView.Get());
  EXPECT_EQ(1, controller_.refs);
  EXPECT_EQ(1, view_.refs);
}

TEST_F(MainWindowProc, ExitTellsTheServiceThenRemovesTheIconAndQuitsWithoutClosingAnything) {
  AddIcon();
  GiveWebView();
  bool iconAtRequest = false;
  ScriptedServer server;
  server.Add(ReplyAfter([&] { iconAtRequest = OurIconShown(); }, 200, "{\"bye\":1}"));
  StdStreamCapture out(STD_OUTPUT_HANDLE);
  EXPECT_EQ(0, Send(WM_COMMAND, IDM_EXIT, 0));

  EXPECT_TRUE(iconAtRequest);
  EXPECT_EQ((std::vector<std::string>{"PUT /api/closeByUser/1"}), RequestLines(server));
  EXPECT_EQ("{\"bye\":1}", out.Text());
  EXPECT_FALSE(OurIconShown());
  EXPECT_TRUE(QuitPosted());
  // The process ends with the loop: the window, the view and the tunnel stay.
  EXPECT_TRUE(IsWindowVisible(window_));
  EXPECT_TRUE(log_.calls.empty());
  EXPECT_NE(nullptr, WebViewController.Get());
}

TEST_F(MainWindowProc, ExitWithTheServiceDownStillRemovesTheIconAndQuits) {
  AddIcon();
  EXPECT_EQ(0, Send(WM_COMMAND, IDM_EXIT, 0));
  EXPECT_FALSE(OurIconShown());
  EXPECT_TRUE(QuitPosted());
}

}  // namespace
