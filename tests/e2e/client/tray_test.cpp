// The tray as a user sees and drives it, from outside the real client: the
// icon and its tooltip in Wine's tray, the balloon ten seconds after start,
// the menu chosen by keys, and the icon's removal on each way out.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include "client_run.h"
#include <shellapi.h>
#include "shell/app_state.h"
#include "support/wine_tray.h"

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

HWND WaitForTrayIcon(const std::wstring& tip) {
  HWND icon = nullptr;
  WaitUntil([&] { return (icon = FindTrayIcon(tip)) != nullptr; }, LivenessMs);
  return icon;
}

// Starts the client and waits for its window and its icon in the tray.
void StartAndFindIcon(ClientRun& client, HWND* window, HWND* icon) {
  ASSERT_TRUE(client.Start());
  *window = client.WaitForWindow();
  ASSERT_NE(nullptr, *window);
  *icon = WaitForTrayIcon(L"NorvVPN");
  ASSERT_NE(nullptr, *icon);
}

// Wine removes the icon of a destroyed window by itself, within milliseconds
// (Windows leaves it until the mouse passes over it), so only the order shows
// that the client removed it: gone while the client's window still exists.
// Sampled from outside, that moment can pass unseen on a busy machine; so the
// test follows the client as its debugger, runs `end` once attached, and looks
// when the client is held at the start of its exit (a breakpoint on ntdll's
// RtlExitUserProcess, where every way out passes and every window still is).
bool IconGoneBeforeWindow(DWORD processId, HWND icon, HWND window, const std::function<void()>& end) {
  BYTE* exitEntry =
      reinterpret_cast<BYTE*>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlExitUserProcess")));
  if (!exitEntry || !DebugActiveProcess(processId)) {
    ADD_FAILURE() << "cannot debug the client: " << GetLastError();
    return false;
  }
  DebugSetProcessKillOnExit(FALSE);
  HANDLE process = nullptr;
  BYTE original = 0;
  bool armed = false, seen = false, stopped = false;
  DEBUG_EVENT event = {};
  while (!stopped && WaitForDebugEvent(&event, LivenessMs)) {
    DWORD status = DBG_CONTINUE;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      process = event.u.CreateProcessInfo.hProcess;
      if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
    } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
      ADD_FAILURE() << "the client ended without passing RtlExitUserProcess";
      stopped = true;
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
      BYTE* at = static_cast<BYTE*>(event.u.Exception.ExceptionRecord.ExceptionAddress);
      if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
        status = DBG_EXCEPTION_NOT_HANDLED;  // the client's own to handle
      } else if (!armed) {
        // The attach breakpoint. ntdll sits at one address in every process.
        BYTE theirs[16] = {};
        const BYTE trap = 0xCC;
        armed = process && ReadProcessMemory(process, exitEntry, theirs, sizeof theirs, nullptr) &&
                memcmp(theirs, exitEntry, sizeof theirs) == 0 &&
                WriteProcessMemory(process, exitEntry, &trap, 1, nullptr) &&
                FlushInstructionCache(process, exitEntry, 1);
        original = theirs[0];
        if (armed) {
          end();
        } else {
          ADD_FAILURE() << "cannot set a breakpoint on the client's RtlExitUserProcess";
          stopped = true;
        }
      } else if (at == exitEntry || at == exitEntry + 1) {
        seen = !(IsWindow(icon) && IsWindowVisible(icon)) && IsWindow(window);
        // The instruction back, and the thread back onto it.
        WriteProcessMemory(process, exitEntry, &original, 1, nullptr);
        FlushInstructionCache(process, exitEntry, 1);
        HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId);
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(thread, &context);
        context.Rip = reinterpret_cast<DWORD64>(exitEntry);
        SetThreadContext(thread, &context);
        CloseHandle(thread);
        stopped = true;
      }
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
  DebugActiveProcessStop(processId);
  return seen;
}

// The check's trace comes at the time of its request: Wine draws a balloon
// about 2 s after it is asked to, which would hide a check made at 8 s.
void ExpectTraceAfterTenSeconds(ChildProcess& client, DWORD startTick, const std::string& trace) {
  ASSERT_TRUE(WaitUntil([&] { return client.Stdout() == trace; }, BalloonWaitMs));
  EXPECT_GE(GetTickCount() - startTick, 10000u) << "the state was checked before 10 s";
}

// The balloon for the icon, checked against literal texts and as drawn (its
// title and icon can only be compared by their pixels under Wine).
void ExpectBalloon(HWND icon, DWORD startTick, const std::wstring& text, DWORD infoFlags) {
  HWND balloon = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (balloon = FindTrayBalloon(icon)) != nullptr; }, BalloonWaitMs));
  EXPECT_GE(GetTickCount() - startTick, 10000u) << "the balloon came before 10 s";
  EXPECT_EQ(text, BalloonText(balloon, icon));
  // Wine draws it some time after it shows.
  std::string difference;
  EXPECT_TRUE(WaitUntil([&] { return (difference = CompareBalloon(balloon, icon, L"NorvVPN", text, infoFlags)).empty(); },
                        LivenessMs))
      << difference;
  EXPECT_EQ(L"NorvVPN", TrayIconTip(icon));  // the tooltip stays
}

TEST(TrayIcon, ThereFromStartStaysWhileHiddenAndGoesWhenTheLoopEndsHidden) {
  ClientRun client(WithoutStandIns());
  HWND window = nullptr, icon = nullptr;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));

  SendMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, LivenessMs));
  ASSERT_TRUE(MessageLoopAnswers(window));
  EXPECT_TRUE(IsWindowVisible(icon));
  EXPECT_EQ(L"NorvVPN", TrayIconTip(icon));

  // The loop ends with no handler of ours involved: start-up removes the icon.
  EXPECT_TRUE(IconGoneBeforeWindow(client.Process().Id(), icon, window, [&] {
    PostThreadMessageW(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 0, 0);
  }));
  DWORD status = 1;
  ASSERT_TRUE(client.Process().Wait(LivenessMs, &status));
  EXPECT_EQ(0u, status);
}

TEST(TrayIcon, ExitRemovesIt) {
  ClientRun client(WithoutStandIns());
  HWND window = nullptr, icon = nullptr;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));
  // Visible at the end of the loop, so start-up leaves the icon alone.
  EXPECT_TRUE(IconGoneBeforeWindow(client.Process().Id(), icon, window,
                                   [&] { PostMessageW(window, WM_COMMAND, IDM_EXIT, 0); }));
  DWORD status = 1;
  ASSERT_TRUE(client.Process().Wait(LivenessMs, &status));
  EXPECT_EQ(0u, status);
}

TEST(TrayIcon, DestroyRemovesItAndLetsTheViewsHandlersGo) {
  DevService service;
  ASSERT_TRUE(service.Start(L"--state 0"));
  ClientRun client;
  HWND window = nullptr, icon = nullptr;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));
  ASSERT_TRUE(WaitUntil(
      [&] { return Contains(LogLines(client), "WebView.add_WebMessageReceived"); }, LivenessMs));
  // Another process cannot destroy the window; the message alone takes the
  // WM_DESTROY path, and the window stays visible for the end of the loop.
  EXPECT_TRUE(
      IconGoneBeforeWindow(client.Process().Id(), icon, window, [&] { PostMessageW(window, WM_DESTROY, 0, 0); }));
  DWORD status = 1;
  ASSERT_TRUE(client.Process().Wait(LivenessMs, &status));
  EXPECT_EQ(0u, status);
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
  HWND window = nullptr, icon = nullptr;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));
  ExpectTraceAfterTenSeconds(client.Process(), start, "tunnel closed");  // no line end
  ExpectBalloon(icon, start, L"NorvVPN Disconnected", NIIF_INFO);

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

  const auto requests = service.Requests();
  EXPECT_TRUE(Contains(requests, "PUT /api/brandByUser/Windows%2011%20Pro"));  // every interactive start
  EXPECT_EQ("PUT /api/closeByUser/1", requests.back());
  EXPECT_FALSE(Contains(requests, "PUT /api/disconnectLocation"));  // Exit leaves the tunnel to the service
}

TEST(TrayEndToEnd, OpenTunnelIsReported) {
  DevService service;
  ASSERT_TRUE(service.Start(L"--state 1"));
  ClientRun client;
  const DWORD start = GetTickCount();
  HWND window = nullptr, icon = nullptr;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));
  ExpectTraceAfterTenSeconds(client.Process(), start, "tunnel opened");
  ExpectBalloon(icon, start, L"NorvVPN Connected", NIIF_INFO);
  EXPECT_EQ(0, client.Exit());
}

TEST(TrayEndToEnd, NoServiceWarnsWithoutATraceAndExitStillWorks) {
  ClientRun client;
  const DWORD start = GetTickCount();
  HWND window = nullptr, icon = nullptr;
  ASSERT_NO_FATAL_FAILURE(StartAndFindIcon(client, &window, &icon));
  ExpectBalloon(icon, start, L"NorvVPN service not loaded, please reinstall", NIIF_WARNING);
  EXPECT_EQ("", client.Process().Stdout());
  EXPECT_EQ(0, client.Exit());
}

}  // namespace
