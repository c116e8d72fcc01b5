// The real program's command line: tool modes end at once with status 0 and no
// window; anything else is the single interactive client.
#include <gtest/gtest.h>
#include "client_run.h"

namespace {

ClientOptions WithoutStandIns() {
  ClientOptions options;
  options.webViewStandIn = false;
  return options;
}

constexpr wchar_t InternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

DWORD ReadProxyEnable() {
  DWORD value = 0xFFFF, size = sizeof value;
  RegGetValueW(HKEY_CURRENT_USER, InternetSettings, L"ProxyEnable", RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

std::wstring ReadProxyServer() {
  wchar_t value[512] = {};
  DWORD size = sizeof value;
  RegGetValueW(HKEY_CURRENT_USER, InternetSettings, L"ProxyServer", RRF_RT_REG_SZ, nullptr, value, &size);
  return value;
}

TEST(ToolModes, EachWordAtItsCountRunsAndEndsWithoutAWindow) {
  for (const wchar_t* arguments : {L"brand", L"off", L"pac http://127.0.0.1/p.pac", L"pac \"\"",
                                   L"global 10.1.2.3:3128 \"<local>\""}) {
    ClientRun client(WithoutStandIns());
    ASSERT_TRUE(client.Start(arguments));
    DWORD status = 1;
    ASSERT_TRUE(client.Process().Wait(20000, &status)) << Narrow(arguments);
    EXPECT_EQ(0u, status) << Narrow(arguments);
    EXPECT_EQ(nullptr, FindClientWindow(client.Process().Id()));
  }
}

TEST(ToolModes, OtherWordsAndCountsStartTheInteractiveClient) {
  for (const wchar_t* arguments : {L"", L"Brand", L"OFF", L"offline", L"brand extra", L"pac", L"global 1.2.3.4:80",
                                   L"global a b c", L"pac a b c d"}) {
    ClientRun client(WithoutStandIns());
    ASSERT_TRUE(client.Start(arguments));
    EXPECT_NE(nullptr, client.WaitForWindow()) << Narrow(arguments);
    EXPECT_EQ(0, client.Exit()) << Narrow(arguments);
  }
}

TEST(ToolModes, GlobalAndOffWriteTheUsersProxy) {
  {
    ClientRun client(WithoutStandIns());
    ASSERT_TRUE(client.Start(L"global 10.9.8.7:3128 \"<local>;*.lan\""));
    ASSERT_TRUE(client.Process().Wait(20000));
  }
  EXPECT_EQ(1u, ReadProxyEnable());
  EXPECT_EQ(L"10.9.8.7:3128", ReadProxyServer());
  {
    ClientRun client(WithoutStandIns());
    ASSERT_TRUE(client.Start(L"off"));
    ASSERT_TRUE(client.Process().Wait(20000));
    // Wine refuses the change announcement for a null handle: one error line.
    EXPECT_EQ((std::vector<std::string>{"Error propagating changes: 12009 (null)"}),
              Lines(client.Process().Stderr()));
  }
  EXPECT_EQ(0u, ReadProxyEnable());
  EXPECT_EQ(L"10.9.8.7:3128", ReadProxyServer());  // only the flags change
}

// Wine takes the UI language from the locale of the whole run, so CTest runs
// this test once more under zh_CN and zh_TW (see test.cmake).
TEST(Language, WindowTitleAndClientArea) {
  const LANGID language = GetUserDefaultUILanguage();
  if (const char* expected = getenv("NORV_EXPECT_LANGID")) {
    ASSERT_EQ(atoi(expected), language);
  }
  ClientRun client(WithoutStandIns());
  ASSERT_TRUE(client.Start());
  HWND window = client.WaitForWindow();
  ASSERT_NE(nullptr, window);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 10000));
  EXPECT_EQ(std::wstring(language == 2052 ? L"\u6F9C\u73C0VPN" : L"NorvVPN"), WindowText(window));
  EXPECT_EQ(DWORD(WS_SYSMENU),
            GetWindowLongW(window, GWL_STYLE) & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  // The 400 x 640 outer size less the frame of a caption-and-close window.
  RECT frame = {0, 0, 0, 0};
  AdjustWindowRectEx(&frame, WS_SYSMENU | WS_CAPTION, FALSE, 0);
  RECT area;
  GetClientRect(window, &area);
  EXPECT_EQ(400 - (frame.right - frame.left), area.right);
  EXPECT_EQ(640 - (frame.bottom - frame.top), area.bottom);
  EXPECT_EQ(0, client.Exit());
}

TEST(InteractiveClient, SecondStartRaisesTheHiddenFirstAndEnds) {
  ClientRun first(WithoutStandIns());
  ASSERT_TRUE(first.Start());
  HWND window = first.WaitForWindow();
  ASSERT_NE(nullptr, window);
  SendMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, 5000));

  ClientRun second(WithoutStandIns());
  ASSERT_TRUE(second.Start());
  DWORD status = 0;
  ASSERT_TRUE(second.Process().Wait(20000, &status));
  EXPECT_EQ(0xFFFFFFFFu, status);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, 5000));
  EXPECT_FALSE(IsIconic(window));

  // A tool mode beside a running client does its job and touches nothing.
  ClientRun tool(WithoutStandIns());
  ASSERT_TRUE(tool.Start(L"off"));
  ASSERT_TRUE(tool.Process().Wait(20000, &status));
  EXPECT_EQ(0u, status);
  EXPECT_EQ(0, first.Exit());
}

}  // namespace
