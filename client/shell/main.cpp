// Entry of norvvpnui: a one-shot tool mode, or the interactive tray client.
#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>
#include <new>
#include "proxy/proxy_settings.h"
#include "service/service_commands.h"
#include "service/tunnel_state.h"
#include "shell/app_state.h"
#include "shell/console.h"
#include "shell/crash_dump.h"
#include "shell/main_window.h"
#include "shell/texts.h"
#include "shell/tool_modes.h"
#include "shell/tray.h"
#include "webview/webview_host.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  InstallCrashHandler();
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) {
    WriteStdout("CommandLineToArgvW failed\n");
  } else {
    const ToolMode mode = PickToolMode(argc, argv);
    RunToolMode(mode, argv);
    LocalFree(argv);
    if (mode != ToolMode::None) return 0;
  }
  // Only the long-lived client keeps a thread waiting for a crash.
  StartCrashDumpThread();

  UiLanguage = GetUserDefaultUILanguage();
  SetCurrentProcessExplicitAppUserModelID(AppUserModelId);
  // Held until the process ends; the Local\ namespace makes it per session.
  CreateMutexA(nullptr, FALSE, InstanceMutexName);
  if (GetLastError() == ERROR_ALREADY_EXISTS && RaiseRunningClient()) return -1;

  if (!RegisterMainWindowClass(instance)) {
    MessageBoxW(nullptr, RegisterClassFailedText, ErrorBoxCaption, MB_OK);
    return 1;
  }
  AppInstance = instance;
  HWND window = CreateMainWindow(instance);
  if (!window) {
    MessageBoxW(nullptr, CreateWindowFailedText, ErrorBoxCaption, MB_OK);
    return 1;
  }
  MainWindow = window;
  AddTrayIcon(window, SetWindowIcons(window, instance));
  ShowWindow(window, showCommand);

  if (HANDLE thread = CreateThread(nullptr, 0, TunnelStateThread, new (std::nothrow) int(0), 0, nullptr))
    CloseHandle(thread);

  // The web view runtime requires a single-threaded apartment on this thread.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  RequestWebViewEnvironment(window);
  SetProxyOff();
  if (wchar_t* brand = QueryWindowsBrand()) {
    ReportWindowsBrand(brand);
    LocalFree(brand);
  }

  MSG message = {};
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (!IsWindowVisible(window)) RemoveTrayIcon();
  ReleaseWebView();
  CoUninitialize();
  return static_cast<int>(message.wParam);
}
