#include "shell/main_window.h"
#include <cwchar>
#include "shell/app_state.h"
#include "shell/texts.h"
#include "shell/window_proc.h"

bool RaiseRunningClient() {
  constexpr int ClassNameCapacity = 256;
  wchar_t className[ClassNameCapacity] = {};
  const int classLength = static_cast<int>(wcslen(MainWindowClass));
  for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
    int length = GetClassNameW(window, className, ClassNameCapacity);
    if (length != classLength || wcscmp(className, MainWindowClass) != 0) continue;
    if (!IsWindowVisible(window)) {
      ShowWindow(window, SW_SHOW);
      ShowWindow(window, SW_RESTORE);
    }
    SetForegroundWindow(window);
    SwitchToThisWindow(window, TRUE);
    return true;
  }
  return false;
}

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(WNDCLASSEXW);
  windowClass.style = CS_VREDRAW | CS_HREDRAW;
  windowClass.lpfnWndProc = WndProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = MainWindowClass;
  return RegisterClassExW(&windowClass) != 0;
}

HWND CreateMainWindow(HINSTANCE instance) {
  return CreateWindowExW(0, MainWindowClass, PickText(ProductNameText), MainWindowStyle, CW_USEDEFAULT,
                         CW_USEDEFAULT, MainWindowWidth, MainWindowHeight, nullptr, nullptr, instance,
                         nullptr);
}

HICON SetWindowIcons(HWND window, HINSTANCE instance) {
  SetClassLongPtrW(window, GCLP_HICON,
                   reinterpret_cast<LONG_PTR>(LoadIconW(AppInstance, MAKEINTRESOURCEW(AppIconId))));
  HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(AppIconId));
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  return icon;
}
