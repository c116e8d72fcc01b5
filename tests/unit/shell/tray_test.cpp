// The tray icon record as the shell gets it, its refresh as the taskbar
// applies it, and the menu built from the page's switch state.
#include <cwchar>
#include "main_window_fixture.h"
#include "shell/texts.h"
#include "support/test_support.h"

namespace {

class Tray : public MainWindowProc {};

TEST_F(Tray, RecordIsAddedAndRefreshAppliesItAsLeft) {
  UiLanguage = 2052;
  AddIcon();
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

  TrayIcon icon;
  ASSERT_TRUE(FindTrayIcon(window_, &icon));
  EXPECT_EQ(L"\u6F9C\u73C0VPN", icon.tip);
  EXPECT_EQ(1u, icon.id);
  EXPECT_EQ(1124u, icon.callbackMessage);
  EXPECT_EQ(7u, icon.addFlags);
  // Only what uFlags names changes, as with the balloon the thread leaves.
  TrayIconData.uFlags = NIF_TIP;
  wcscpy_s(TrayIconData.szTip, L"refreshed tip");
  EXPECT_EQ(0, Send(WM_TRAYREFRESH, 0, 0));
  ASSERT_TRUE(FindTrayIcon(window_, &icon));
  EXPECT_EQ(L"refreshed tip", icon.tip);
  EXPECT_EQ(1124u, icon.callbackMessage);
  EXPECT_EQ(L"", icon.balloonText);

  RemoveTrayIcon();
  EXPECT_FALSE(FindTrayIcon(window_));
}

TEST_F(Tray, MenuFollowsTheSwitchStateInBothLanguages) {
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

TEST_F(Tray, RightClickAsksThePageThenShowsTheMenu) {
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

}  // namespace
