#include "support/taskbar.h"
#include <shellapi.h>
#include <mutex>

namespace {

// Windows' taskbar gets dwData 1 and this record (undocumented; the one shells
// written for Windows read): a signature, the message, and the start of
// NOTIFYICONDATAW with 32-bit handles.
constexpr DWORD WindowsSignature = 0x34753423;
#pragma pack(push, 4)
struct WindowsRecord {
  DWORD signature, message, cbSize, owner, id, flags, callbackMessage, icon;
  WCHAR tip[128];
  DWORD state, stateMask;
  WCHAR info[256];
  UINT timeout;
  WCHAR infoTitle[64];
  DWORD infoFlags;
};
// Wine's shell sends dwData = the message and this record, then the icon's
// bits (the same from Wine 8 to 10).
struct WineRecord {
  LONG owner;
  UINT id, flags, callbackMessage;
  WCHAR tip[128];
  DWORD state, stateMask;
  WCHAR info[256];
  UINT timeout;
  WCHAR infoTitle[64];
  DWORD infoFlags;
  GUID guid;
  UINT width, height, planes, bpp;
};
#pragma pack(pop)

struct Call {
  DWORD message;
  HWND owner;
  UINT id, flags, callbackMessage;
  bool hasIcon;
  const WCHAR *tip, *info, *infoTitle;
  DWORD infoFlags;
};

std::mutex Lock;
std::vector<TrayIcon> Icons;
HWND TaskbarWindow = nullptr;

std::wstring Bounded(const WCHAR* text, size_t capacity) {
  size_t length = 0;
  while (length < capacity && text[length]) ++length;
  return std::wstring(text, length);
}

bool ReadCall(const COPYDATASTRUCT& data, Call* call) {
  if (!data.lpData) return false;
  const auto* windows = static_cast<const WindowsRecord*>(data.lpData);
  if (data.dwData == 1 && data.cbData >= sizeof(WindowsRecord) && windows->signature == WindowsSignature) {
    *call = {windows->message, reinterpret_cast<HWND>(static_cast<ULONG_PTR>(windows->owner)), windows->id,
             windows->flags, windows->callbackMessage, windows->icon != 0, windows->tip, windows->info,
             windows->infoTitle, windows->infoFlags};
    return true;
  }
  const auto* wine = static_cast<const WineRecord*>(data.lpData);
  if (data.dwData > NIM_SETVERSION || data.cbData < sizeof(WineRecord)) return false;
  *call = {static_cast<DWORD>(data.dwData), reinterpret_cast<HWND>(static_cast<LONG_PTR>(wine->owner)), wine->id,
           wine->flags, wine->callbackMessage, wine->width != 0, wine->tip, wine->info, wine->infoTitle,
           wine->infoFlags};
  return true;
}

// As the taskbar applies a call: NIM_ADD of a known icon and NIM_MODIFY or
// NIM_DELETE of an unknown one fail; a change takes only what uFlags names.
BOOL Apply(const Call& call) {
  std::lock_guard<std::mutex> hold(Lock);
  auto icon = Icons.begin();
  while (icon != Icons.end() && !(icon->owner == call.owner && icon->id == call.id)) ++icon;
  switch (call.message) {
    case NIM_ADD:
      if (icon != Icons.end()) return FALSE;
      icon = Icons.insert(Icons.end(), TrayIcon{});
      icon->owner = call.owner;
      icon->id = call.id;
      break;
    case NIM_MODIFY:
      if (icon == Icons.end()) return FALSE;
      break;
    case NIM_DELETE:
      if (icon == Icons.end()) return FALSE;
      Icons.erase(icon);
      return TRUE;
    default:
      return icon != Icons.end();
  }
  if (call.flags & NIF_MESSAGE) icon->callbackMessage = call.callbackMessage;
  if (call.flags & NIF_ICON) icon->hasIcon = call.hasIcon;
  if (call.flags & NIF_TIP) icon->tip = Bounded(call.tip, 128);
  if (call.flags & NIF_INFO) {
    icon->balloonText = Bounded(call.info, 256);
    icon->balloonTitle = Bounded(call.infoTitle, 64);
    icon->balloonFlags = call.infoFlags;
    icon->balloonTick = GetTickCount();
  }
  return TRUE;
}

LRESULT CALLBACK TaskbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Call call;
  if (message == WM_COPYDATA && ReadCall(*reinterpret_cast<const COPYDATASTRUCT*>(lParam), &call)) return Apply(call);
  return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI TaskbarThread(void* ready) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = TaskbarProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"Shell_TrayWnd";
  RegisterClassW(&windowClass);
  // Topmost: before any taskbar window of the session in the Z order, which
  // is where Shell_NotifyIconW looks first.
  TaskbarWindow = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
  SetEvent(static_cast<HANDLE>(ready));
  MSG message;
  while (TaskbarWindow && GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

}  // namespace

bool StartTaskbar() {
  static const bool started = [] {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, TaskbarThread, ready, 0, nullptr);
    if (thread) {
      WaitForSingleObject(ready, INFINITE);
      CloseHandle(thread);
    }
    CloseHandle(ready);
    return TaskbarWindow != nullptr;
  }();
  return started && FindWindowW(L"Shell_TrayWnd", nullptr) == TaskbarWindow;
}

std::vector<TrayIcon> TrayIcons() {
  std::lock_guard<std::mutex> hold(Lock);
  return Icons;
}

bool FindTrayIcon(HWND owner, TrayIcon* found) {
  for (const TrayIcon& icon : TrayIcons()) {
    if (icon.owner != owner) continue;
    if (found) *found = icon;
    return true;
  }
  return false;
}
