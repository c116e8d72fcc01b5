#include <gtest/gtest.h>
#include <memory>
#include <string>
#include "support/scripted_server.h"
#include "service/tunnel_state.h"
#include "shell/app_state.h"
#include "shell/texts.h"
#include "shell/tray.h"
#include "support/test_support.h"

namespace {

HWND MarkerWindow = reinterpret_cast<HWND>(0x1234);

// The record as WinMain leaves it, with stale balloon fields.
void PrepareTrayRecord() {
  TrayIconData = NOTIFYICONDATAW{};
  TrayIconData.cbSize = sizeof(NOTIFYICONDATAW);
  TrayIconData.hWnd = MarkerWindow;
  TrayIconData.uID = TrayIconId;
  TrayIconData.uCallbackMessage = WM_TRAYICON;
  TrayIconData.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
  TrayIconData.dwInfoFlags = 7;
  TrayIconData.uTimeout = 1;
  CopyText(TrayIconData.szInfo, L"stale balloon text that is longer than any new one");
  CopyText(TrayIconData.szInfoTitle, L"stale title");
  CopyText(TrayIconData.szTip, L"stale tip");
}

int TakeRefreshMessages(HWND window) {
  int count = 0;
  MSG message;
  while (PeekMessageW(&message, window, WM_TRAYREFRESH, WM_TRAYREFRESH, PM_REMOVE)) {
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 0);
    ++count;
  }
  return count;
}

class TunnelStateCheck : public testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowExW(0, L"STATIC", L"tunnel-state test", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    MainWindow = window_;
    TakeRefreshMessages(nullptr);
  }
  void TearDown() override {
    MainWindow = nullptr;
    DestroyWindow(window_);
    UiLanguage = 0;
  }
  HWND window_ = nullptr;
};

struct Outcome {
  const char* name;
  Script reply;  // empty: no service listening
  const TextPair* text;
  DWORD infoFlags;
  const char* printed;
};

TEST_F(TunnelStateCheck, BalloonFollowsTheAnswerInEveryLanguage) {
  const Outcome outcomes[] = {
      {"closed", Reply(200, "{\"status\":0}"), &TunnelClosedText, NIIF_INFO, "tunnel closed"},
      {"open", Reply(400, "{\"status\":1}"), &TunnelOpenText, NIIF_INFO, "tunnel opened"},
      {"member missing", Reply(201, "{\"state\":0}"), &TunnelOpenText, NIIF_INFO, "tunnel opened"},
      {"service down", {}, &ServiceMissingText, NIIF_WARNING, ""},
      {"unreadable", Reply(200, "[0]"), &ServiceMissingText, NIIF_WARNING, ""},
      {"not json", Reply(200, "<html>"), &ServiceMissingText, NIIF_WARNING, ""},
      {"other status", Reply(503, "{\"status\":0}"), &ServiceMissingText, NIIF_WARNING, ""},
  };
  for (const Outcome& outcome : outcomes) {
    for (LANGID language : {LANGID{1033}, LANGID{2052}, LANGID{1028}}) {
      SCOPED_TRACE(std::string(outcome.name) + " " + std::to_string(language));
      bool chinese = language == 2052;
      UiLanguage = language;
      PrepareTrayRecord();
      std::string printed;
      {
        std::unique_ptr<ScriptedServer> server;
        if (!outcome.reply.empty()) {
          server = std::make_unique<ScriptedServer>();
          server->Add(outcome.reply);
        }
        StdStreamCapture out(STD_OUTPUT_HANDLE);
        CheckTunnelStateAndNotify();
        printed = out.Text();
      }
      EXPECT_EQ(printed, outcome.printed);
      EXPECT_STREQ(TrayIconData.szInfo, chinese ? outcome.text->chinese : outcome.text->english);
      EXPECT_EQ(TrayIconData.dwInfoFlags, outcome.infoFlags);
      const wchar_t* product = chinese ? ProductNameText.chinese : ProductNameText.english;
      EXPECT_STREQ(TrayIconData.szInfoTitle, product);
      EXPECT_STREQ(TrayIconData.szTip, product);
      EXPECT_EQ(TrayIconData.uFlags, static_cast<UINT>(NIF_INFO));
      EXPECT_EQ(TrayIconData.uTimeout, 15000u);
      EXPECT_EQ(TrayIconData.cbSize, sizeof(NOTIFYICONDATAW));
      EXPECT_EQ(TrayIconData.hWnd, MarkerWindow);
      EXPECT_EQ(TrayIconData.uID, TrayIconId);
      EXPECT_EQ(TrayIconData.uCallbackMessage, WM_TRAYICON);
      EXPECT_EQ(TakeRefreshMessages(window_), 1);
    }
  }
}

TEST_F(TunnelStateCheck, NothingIsPostedWhenTheWindowIsGone) {
  HWND gone = CreateWindowExW(0, L"STATIC", L"gone", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  DestroyWindow(gone);
  for (HWND stale : {gone, HWND{nullptr}}) {
    MainWindow = stale;
    PrepareTrayRecord();
    ScriptedServer server;
    server.Add(Reply(200, "{\"status\":1}"));
    StdStreamCapture out(STD_OUTPUT_HANDLE);
    CheckTunnelStateAndNotify();
    EXPECT_EQ(out.Text(), "tunnel opened");
    EXPECT_STREQ(TrayIconData.szInfo, TunnelOpenText.english);
    EXPECT_EQ(TakeRefreshMessages(nullptr), 0);
  }
}

}  // namespace
