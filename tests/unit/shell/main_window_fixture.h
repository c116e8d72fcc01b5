// The real main window class and window, with the recording web view fakes
// to hand to it, for the window procedure and tray tests.
#pragma once
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "shell/app_state.h"
#include "shell/main_window.h"
#include "shell/tray.h"
#include "shell/window_proc.h"
#include "support/taskbar.h"
#include "unit/webview/fake_webview.h"
#include "webview/webview_host.h"

inline std::vector<std::wstring> MenuTexts(HMENU menu) {
  std::vector<std::wstring> texts;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
    texts.push_back(std::to_wstring(GetMenuItemID(menu, i)) + L" " + text);
  }
  return texts;
}

inline bool QuitPosted() {
  MSG message;
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

// Whether the taskbar still has our icon. Safe from any thread.
inline bool OurIconShown() { return FindTrayIcon(TrayIconData.hWnd); }

class MainWindowProc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AppInstance = GetModuleHandleW(nullptr);
    static const bool registered = RegisterMainWindowClass(AppInstance);  // once for every suite
    ASSERT_TRUE(registered);
    ASSERT_TRUE(StartTaskbar());
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
      // The taskbar keeps an icon until it is removed, as on Windows.
      RemoveTrayIcon();
      TrayIconData.hWnd = nullptr;
      DestroyWindow(window_);
    }
    QuitPosted();
  }
  void GiveWebView() {
    WebViewController.Store(As<ICoreWebView2Controller>(controller_));
    WebView.Store(As<ICoreWebView2>(view_));
    log_.calls.clear();
  }
  void AddIcon() { AddTrayIcon(window_, SetWindowIcons(window_, AppInstance)); }
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) { return WndProc(window_, message, wParam, lParam); }

  HWND window_ = nullptr;
  FakeLog log_;
  FakeCom settings_ = MakeFakeSettings(&log_);
  FakeCom view_ = MakeFakeWebView(&log_, &settings_);
  FakeCom controller_ = MakeFakeController(&log_, &view_);
};
