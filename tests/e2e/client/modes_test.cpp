// The real program's command line: tool modes end at once with status 0 and no
// window; anything else is the single interactive client.
#include <gtest/gtest.h>
#include "client_run.h"
#include "support/taskbar.h"

namespace {

ClientOptions WithoutStandIns() {
  ClientOptions options;
  options.webViewRuntime = false;
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

// Waits for the process while this thread answers the messages it is sent
// (showing one of our windows from another process sends us one).
bool WaitPumping(ChildProcess& process, DWORD timeoutMs, DWORD* status) {
  const DWORD start = GetTickCount();
  HANDLE handle = process.Handle();
  for (;;) {
    const DWORD left = timeoutMs - (GetTickCount() - start);
    if (static_cast<LONG>(left) <= 0) return false;
    const DWORD woken = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) return process.Wait(0, status);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
}

int WindowsCreated = 0;

void CALLBACK CountWindow(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
  if (window && object == OBJID_WINDOW) ++WindowsCreated;
}

TEST(ToolModes, EachWordAtItsCountRunsAndEndsWithoutAWindow) {
  for (const wchar_t* arguments : {L"brand", L"off", L"pac http://127.0.0.1/p.pac", L"pac \"\"",
                                   L"global 10.1.2.3:3128 \"<local>\""}) {
    // Every window the process ever makes, even one gone before it ends.
    ChildProcess client;
    ChildOptions options;
    options.suspended = true;
    ASSERT_TRUE(client.Start(HostPathFromEnv("NORV_CLIENT_EXE"), arguments, {}, options));
    WindowsCreated = 0;
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, CountWindow,
                                         client.Id(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(nullptr, hook);
    client.Resume();
    DWORD status = 1;
    ASSERT_TRUE(WaitPumping(client, LivenessMs, &status)) << Narrow(arguments);
    EXPECT_EQ(0u, status) << Narrow(arguments);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    UnhookWinEvent(hook);
    EXPECT_EQ(0, WindowsCreated) << Narrow(arguments);
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
    ASSERT_TRUE(client.Process().Wait(LivenessMs));
  }
  EXPECT_EQ(1u, ReadProxyEnable());
  EXPECT_EQ(L"10.9.8.7:3128", ReadProxyServer());
  {
    ClientRun client(WithoutStandIns());
    ASSERT_TRUE(client.Start(L"off"));
    ASSERT_TRUE(client.Process().Wait(LivenessMs));
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
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, LivenessMs));
  const std::wstring productName = language == 2052 ? L"\u6F9C\u73C0VPN" : L"NorvVPN";
  EXPECT_EQ(productName, WindowText(window));
  TrayIcon icon;
  EXPECT_TRUE(WaitUntil([&] { return FindTrayIcon(window, &icon); }, LivenessMs));
  EXPECT_EQ(productName, icon.tip);
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
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, LivenessMs));

  ClientRun second(WithoutStandIns());
  ASSERT_TRUE(second.Start());
  DWORD status = 0;
  ASSERT_TRUE(second.Process().Wait(LivenessMs, &status));
  EXPECT_EQ(0xFFFFFFFFu, status);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != FALSE; }, LivenessMs));
  EXPECT_FALSE(IsIconic(window));

  // A tool mode beside a running client does its job and touches nothing.
  SendMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, LivenessMs));
  ClientRun tool(WithoutStandIns());
  ASSERT_TRUE(tool.Start(L"off"));
  ASSERT_TRUE(tool.Process().Wait(LivenessMs, &status));
  EXPECT_EQ(0u, status);
  ASSERT_TRUE(MessageLoopAnswers(window));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(0, first.Exit());
}

TEST(InteractiveClient, SecondStartOnlyBringsTheVisibleFirstForward) {
  ClientRun first(WithoutStandIns());
  ASSERT_TRUE(first.Start());
  HWND window = first.WaitForWindow();
  ASSERT_NE(nullptr, window);
  // Maximised, a restore would show: the visible window gets no ShowWindow.
  ShowWindowAsync(window, SW_MAXIMIZE);
  ASSERT_TRUE(WaitUntil([&] { return IsZoomed(window) != FALSE; }, LivenessMs));

  ClientRun second(WithoutStandIns());
  ASSERT_TRUE(second.Start());
  DWORD status = 0;
  ASSERT_TRUE(second.Process().Wait(LivenessMs, &status));
  EXPECT_EQ(0xFFFFFFFFu, status);
  EXPECT_EQ(nullptr, FindClientWindow(second.Process().Id()));
  EXPECT_TRUE(IsZoomed(window));
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(0, first.Exit());
}

// The running client as another process of the session sees it: the mutex
// and a top-level window of that class, here both ours.
class ClientLookalike {
 public:
  explicit ClientLookalike(const wchar_t* className) {
    mutex_ = CreateMutexA(nullptr, FALSE, "Local\\$NorvVPN$");
    if (!className) return;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    className_ = className;
    RegisterClassW(&windowClass);
    window_ = CreateWindowW(className, L"lookalike", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                            windowClass.hInstance, nullptr);
  }
  ~ClientLookalike() {
    if (window_) DestroyWindow(window_);
    if (!className_.empty()) UnregisterClassW(className_.c_str(), GetModuleHandleW(nullptr));
    CloseHandle(mutex_);
  }
  HWND Window() const { return window_; }

 private:
  HANDLE mutex_ = nullptr;
  std::wstring className_;
  HWND window_ = nullptr;
};

TEST(InteractiveClient, AnyTopLevelWindowOfTheClassIsTheRunningClient) {
  ClientLookalike running(L"NorvVpnUI");
  ASSERT_NE(nullptr, running.Window());
  ClientRun second(WithoutStandIns());
  ASSERT_TRUE(second.Start());
  DWORD status = 0;
  ASSERT_TRUE(WaitPumping(second.Process(), LivenessMs, &status));
  EXPECT_EQ(0xFFFFFFFFu, status);
  EXPECT_TRUE(IsWindowVisible(running.Window()));  // hidden, so shown
}

TEST(InteractiveClient, HeldMutexWithoutSuchAWindowStartsAFullClient) {
  // Class names are atoms of the session that ignore case; "NorvVpnUi" reads
  // as itself to others only while no "NorvVpnUI" class exists, as here.
  for (const wchar_t* className : {static_cast<const wchar_t*>(nullptr), L"NorvVpnUi", L"NorvVpnXY"}) {
    const std::string name = className ? Narrow(className) : "no window";
    ClientLookalike other(className);
    ClientRun client(WithoutStandIns());
    ASSERT_TRUE(client.Start());
    EXPECT_NE(nullptr, client.WaitForWindow()) << name;
    EXPECT_EQ(0, client.Exit()) << name;
    if (other.Window()) {
      EXPECT_FALSE(IsWindowVisible(other.Window())) << name;
    }
  }
}

}  // namespace
