// The window procedure on the real main window: hiding to the tray, the tray
// icon's callbacks, the web view following the window, the menu commands, and
// the tear-down on WM_DESTROY.
#include <gtest/gtest.h>
#include "shell/app_state.h"
#include "shell/main_window.h"
#include "shell/window_proc.h"
#include "support/test_support.h"
#include "unit/webview/fake_webview.h"
#include "webview/webview_host.h"

namespace {

std::vector<std::wstring> MenuTexts(HMENU menu) {
  std::vector<std::wstring> texts;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
    texts.push_back(std::to_wstring(GetMenuItemID(menu, i)) + L" " + text);
  }
  return texts;
}

bool QuitPosted() {
  MSG message;
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

class MainWindowProc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AppInstance = GetModuleHandleW(nullptr);
    ASSERT_TRUE(RegisterMainWindowClass(AppInstance));
  }
  void SetUp() override {
    UiLanguage = 1033;
    HiddenToTray = 0;
    TrayIconData = {};
    window_ = CreateMainWindow(AppInstance);
    ASSERT_NE(nullptr, window_);
    MainWindow = window_;
    ShowWindow(window_, SW_SHOW);
  }
  void TearDown() override {
    WebView.Reset();
    WebViewController.Reset();
    DropFakeReferences(&view_);
    if (IsWindow(window_)) {
      TrayIconData.hWnd = nullptr;  // nothing to remove in the shell
      DestroyWindow(window_);
    }
    QuitPosted();
  }
  void GiveWebView() {
    WebViewController.Store(As<ICoreWebView2Controller>(controller_));
    WebView.Store(As<ICoreWebView2>(view_));
    log_.calls.clear();
  }
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) { return WndProc(window_, message, wParam, lParam); }

  HWND window_ = nullptr;
  FakeLog log_;
  FakeCom settings_ = MakeFakeSettings(&log_);
  FakeCom view_ = MakeFakeWebView(&log_, &settings_);
  FakeCom controller_ = MakeFakeController(&log_, &view_);
};

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

TEST_F(MainWindowProc, TrayMenuFollowsTheSwitchStateInBothLanguages) {
  struct Case {
    const wchar_t* json;
    std::vector<std::wstring> english;
    std::vector<std::wstring> chinese;
  };
  const Case cases[] = {
      {L"true", {L"4660 Disconnect", L"4661 Exit"}, {L"4660 \u65AD\u5F00\u8FDE\u63A5", L"4661 \u9000\u51FA"}},
      {L"false", {L"4660 Connect", L"4661 Exit"}, {L"4660 \u8FDE\u63A5", L"4661 \u9000\u51FA"}},
      {L"\"x\"", {L"4660 Connect", L"4661 Exit"}, {L"4660 \u8FDE\u63A5", L"4661 \u9000\u51FA"}},
      {L"null", {L"4661 Exit"}, {L"4661 \u9000\u51FA"}},
  };
  for (const Case& c : cases) {
    for (LANGID language : {1033, 2052, 1028}) {
      UiLanguage = language;
      HMENU previous = TrayMenu;
      BuildTrayMenu(c.json);
      EXPECT_EQ(language == 2052 ? c.chinese : c.english, MenuTexts(TrayMenu)) << Narrow(c.json) << language;
      if (previous) {
        EXPECT_FALSE(IsMenu(previous));  // the old menu is gone
      }
    }
  }
}

TEST_F(MainWindowProc, RightClickAsksThePageThenShowsTheMenu) {
  EXPECT_EQ(0, Send(WM_TRAYICON, 0, WM_RBUTTONDOWN));  // before the view: no menu, nothing asked
  EXPECT_TRUE(log_.calls.empty());
  GiveWebView();
  MainWindow = nullptr;
  EXPECT_EQ(0, Send(WM_TRAYICON, 0, WM_CONTEXTMENU));
  EXPECT_EQ(window_, MainWindow);
  EXPECT_EQ((std::vector<std::string>{"WebView.ExecuteScript document.getElementById('vpn_switch').checked;"}),
            log_.calls);
  ASSERT_NE(nullptr, view_.scriptCompletion);
  // The menu is modal: a timer closes it once it is up.
  SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    EndMenu();
  });
  EXPECT_EQ(S_OK, view_.scriptCompletion->Invoke(S_OK, L"true"));
  EXPECT_EQ((std::vector<std::wstring>{L"4660 Disconnect", L"4661 Exit"}), MenuTexts(TrayMenu));
}

TEST_F(MainWindowProc, TrayIconRecordAndRefresh) {
  UiLanguage = 2052;
  AddTrayIcon(window_, AppInstance);
  EXPECT_EQ(976u, TrayIconData.cbSize);
  EXPECT_EQ(window_, TrayIconData.hWnd);
  EXPECT_EQ(1u, TrayIconData.uID);
  EXPECT_EQ(7u, TrayIconData.uFlags);
  EXPECT_EQ(1124u, TrayIconData.uCallbackMessage);
  EXPECT_NE(nullptr, TrayIconData.hIcon);
  EXPECT_STREQ(L"\u6F9C\u73C0VPN", TrayIconData.szTip);
  EXPECT_EQ(0u, TrayIconData.dwState | TrayIconData.dwStateMask | TrayIconData.uTimeout | TrayIconData.dwInfoFlags);
  EXPECT_STREQ(L"", TrayIconData.szInfo);
  EXPECT_STREQ(L"", TrayIconData.szInfoTitle);
  EXPECT_EQ(reinterpret_cast<LPARAM>(TrayIconData.hIcon), SendMessageW(window_, WM_GETICON, ICON_BIG, 0));
  EXPECT_EQ(reinterpret_cast<LPARAM>(TrayIconData.hIcon), SendMessageW(window_, WM_GETICON, ICON_SMALL, 0));
  EXPECT_NE(0u, GetClassLongPtrW(window_, GCLP_HICON));

  // The balloon as the tunnel-state check leaves it; the shell accepts the change.
  TrayIconData.uFlags = NIF_INFO;
  wcscpy_s(TrayIconData.szInfo, L"NorvVPN Connected");
  TrayIconData.uTimeout = 15000;
  EXPECT_EQ(0, Send(WM_TRAYREFRESH, 0, 0));
  EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &TrayIconData));
  Shell_NotifyIconW(NIM_DELETE, &TrayIconData);
}

TEST_F(MainWindowProc, DestroyClosesTheViewAsksTheServiceAndQuits) {
  DevService service;
  ASSERT_TRUE(service.Start(L"--state 0"));
  AddTrayIcon(window_, AppInstance);
  GiveWebView();
  DestroyWindow(window_);
  EXPECT_EQ((std::vector<std::string>{"Controller.put_IsVisible 0", "Controller.Close"}), log_.calls);
  EXPECT_EQ(nullptr, WebViewController.Get());
  EXPECT_EQ(nullptr, WebView.Get());
  EXPECT_EQ(1, controller_.refs);
  EXPECT_EQ(1, view_.refs);
  EXPECT_EQ((std::vector<std::string>{"GET /api/getTunnelStat"}), service.Requests());
  EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &TrayIconData));  // the icon is gone
  EXPECT_TRUE(QuitPosted());
}

}  // namespace
