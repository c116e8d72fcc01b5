// The client's own code (window procedure, tray menu, web view host) in this
// process with the runtime and the development service's page: the tray menu
// follows the page's real switch, in both languages, and without a switch
// offers Exit alone.
#include <gtest/gtest.h>
#include <algorithm>
#include "runtime_host.h"
#include "shell/app_state.h"
#include "shell/main_window.h"
#include "shell/tray.h"
#include "shell/window_proc.h"
#include "webview/webview_host.h"

namespace {

std::vector<std::wstring> MenuTexts(HMENU menu) {
  std::vector<std::wstring> texts;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
    texts.push_back(text);
  }
  return texts;
}

class ClientWithRuntime : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    AppInstance = GetModuleHandleW(nullptr);
    RegisterMainWindowClass(AppInstance);
  }
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    SetEnvironmentVariableW(L"NORV_WEBVIEW_LOG", log.c_str());
    UiLanguage = 1033;
    TrayIconData = {};
    window = CreateMainWindow(AppInstance);
    ASSERT_NE(nullptr, window);
    MainWindow = window;
    ShowWindow(window, SW_SHOW);
  }
  void TearDown() override {
    // WM_DESTROY closes the view; its quit message is not ours to keep.
    if (IsWindow(window)) DestroyWindow(window);
    MSG quit;
    PumpFor(300);
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    SetEnvironmentVariableW(L"NORV_WEBVIEW_LOG", nullptr);
    CoUninitialize();
  }
  bool OpenPage() {
    RequestWebViewEnvironment(window);
    // The document's message comes before its body is parsed; the first
    // painted frame comes after.
    return PumpUntil([this] {
      const auto lines = Lines(ReadFileText(log));
      return std::find(lines.begin(), lines.end(), "WebMessageReceived http://127.0.0.1:13001/") != lines.end() &&
             HasPaintedFrame(lines);
    });
  }
  // The menu a right-click on the icon makes, ended once it shows; it opens
  // from a completion, so the loop that runs it is inside PumpUntil.
  std::vector<std::wstring> TrayMenuTexts() {
    HMENU before = TrayMenu;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
      HWND menu = FindWindowW(L"#32768", nullptr);
      if (menu && IsWindowVisible(menu)) EndMenu();
    });
    WndProc(window, WM_TRAYICON, 0, WM_RBUTTONDOWN);
    PumpUntil([&] { return TrayMenu != before; }, LivenessMs);
    KillTimer(nullptr, timer);
    return MenuTexts(TrayMenu);
  }

  RunFolder folder;
  std::wstring log = folder.File(L"webview.log");
  DevService service;
  HWND window = nullptr;
};

TEST_F(ClientWithRuntime, TheMenuFollowsThePagesSwitch) {
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(OpenPage()) << ReadFileText(log);
  EXPECT_EQ((std::vector<std::wstring>{L"Connect", L"Exit"}), TrayMenuTexts());

  // Connect: the page's switch goes on and the service connects.
  WndProc(window, WM_COMMAND, IDM_SWITCH, 0);
  // The click that sent it turned the page's switch on.
  ASSERT_TRUE(PumpUntil([&] {
    const auto requests = service.Requests();
    return std::any_of(requests.begin(), requests.end(),
                       [](const std::string& r) { return r.compare(0, 25, "PUT /api/connectLocation") == 0; });
  }));
  UiLanguage = 2052;
  EXPECT_EQ((std::vector<std::wstring>{L"\u65AD\u5F00\u8FDE\u63A5", L"\u9000\u51FA"}), TrayMenuTexts());
  UiLanguage = 1033;
  EXPECT_EQ((std::vector<std::wstring>{L"Disconnect", L"Exit"}), TrayMenuTexts());
}

TEST_F(ClientWithRuntime, APageWithoutTheSwitchGivesExitAlone) {
  ASSERT_TRUE(service.Start(L"--no-switch"));
  ASSERT_TRUE(OpenPage()) << ReadFileText(log);
  EXPECT_EQ((std::vector<std::wstring>{L"Exit"}), TrayMenuTexts());
  UiLanguage = 2052;
  EXPECT_EQ((std::vector<std::wstring>{L"\u9000\u51FA"}), TrayMenuTexts());
}

}  // namespace
