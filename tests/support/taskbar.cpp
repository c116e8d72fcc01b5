#include "support/taskbar.h"
#include <shellapi.h>
#include <cstring>
#include <mutex>

namespace {

// The record's layout is the system shell's own business: Windows sends dwData
// 1 and a signed record holding the message, Wine 8 and Wine 10 send the
// message as dwData and records laid out differently from each other. What
// they share is NOTIFYICONDATAW's field order: hWnd, uID, uFlags and
// uCallbackMessage in a row, and szInfoTitle[64] followed by dwInfoFlags. So
// the taskbar learns where each field lies from calls of its own with known
// contents, before any program under test calls.
struct Layout {
  bool messageIsData = false;
  size_t message = 0, owner = 0, tip = 0, info = 0, title = 0, end = 0;
};

constexpr UINT ProbeId = 0x4E525631;
constexpr UINT ProbeCallback = WM_APP + 0x2A5;
constexpr wchar_t ProbeTip[] = L"taskbar probe: tip";
constexpr wchar_t ProbeInfo[] = L"taskbar probe: balloon text";
constexpr wchar_t ProbeTitle[] = L"taskbar probe: title";

struct Raw {
  ULONG_PTR data;
  std::string bytes;
};

std::mutex Lock;
std::vector<TrayIcon> Icons;
std::vector<Raw> Probes;  // while learning
bool Learned = false;
Layout Fields;
HWND TaskbarWindow = nullptr;

DWORD DwordAt(const std::string& bytes, size_t at) {
  DWORD value = 0;
  if (at + sizeof value <= bytes.size()) memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

std::wstring TextAt(const std::string& bytes, size_t at, size_t capacity) {
  std::wstring text;
  for (size_t i = 0; i < capacity && at + (i + 1) * 2 <= bytes.size(); ++i) {
    wchar_t c;
    memcpy(&c, bytes.data() + at + i * 2, 2);
    if (!c) break;
    text += c;
  }
  return text;
}

// Where `text` (with its terminating zero) starts in the record, or npos.
size_t Find(const std::string& bytes, const wchar_t* text) {
  const std::string needle(reinterpret_cast<const char*>(text), (wcslen(text) + 1) * sizeof(wchar_t));
  for (size_t at = bytes.find(needle); at != std::string::npos; at = bytes.find(needle, at + 1))
    if (at % 2 == 0) return at;
  return std::string::npos;
}

bool LearnLayout(const Raw& add, const Raw& modify, Layout* layout) {
  const DWORD owner = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(TaskbarWindow));
  size_t at = 0;
  while (at + 16 <= add.bytes.size() && !(DwordAt(add.bytes, at) == owner && DwordAt(add.bytes, at + 4) == ProbeId &&
                                          DwordAt(add.bytes, at + 12) == ProbeCallback))
    at += 4;
  if (at + 16 > add.bytes.size()) return false;
  layout->owner = at;
  layout->messageIsData = add.data != modify.data;
  if (!layout->messageIsData) {
    size_t m = 0;
    while (m < at && !(DwordAt(add.bytes, m) == NIM_ADD && DwordAt(modify.bytes, m) == NIM_MODIFY)) m += 4;
    if (m == at) return false;
    layout->message = m;
  }
  layout->tip = Find(add.bytes, ProbeTip);
  layout->info = Find(modify.bytes, ProbeInfo);
  layout->title = Find(modify.bytes, ProbeTitle);
  if (layout->tip == std::string::npos || layout->info == std::string::npos || layout->title == std::string::npos)
    return false;
  layout->end = layout->title + 64 * sizeof(wchar_t) + sizeof(DWORD);  // dwInfoFlags is the last field read
  return layout->end <= modify.bytes.size();
}

// As the taskbar applies a call: NIM_ADD of a known icon and NIM_MODIFY or
// NIM_DELETE of an unknown one fail; a change takes only what uFlags names.
BOOL Apply(ULONG_PTR data, const std::string& bytes) {
  std::lock_guard<std::mutex> hold(Lock);
  if (!Learned) {
    Probes.push_back({data, bytes});
    return TRUE;
  }
  if (bytes.size() < Fields.end) return FALSE;
  const DWORD message = Fields.messageIsData ? static_cast<DWORD>(data) : DwordAt(bytes, Fields.message);
  const HWND owner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(DwordAt(bytes, Fields.owner)));
  const UINT id = DwordAt(bytes, Fields.owner + 4), flags = DwordAt(bytes, Fields.owner + 8);
  auto icon = Icons.begin();
  while (icon != Icons.end() && !(icon->owner == owner && icon->id == id)) ++icon;
  switch (message) {
    case NIM_ADD:
      if (icon != Icons.end()) return FALSE;
      icon = Icons.insert(Icons.end(), TrayIcon{});
      icon->owner = owner;
      icon->id = id;
      icon->addFlags = flags;
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
  if (flags & NIF_MESSAGE) icon->callbackMessage = DwordAt(bytes, Fields.owner + 12);
  if (flags & NIF_TIP) icon->tip = TextAt(bytes, Fields.tip, 128);
  if (flags & NIF_INFO) {
    icon->balloonText = TextAt(bytes, Fields.info, 256);
    icon->balloonTitle = TextAt(bytes, Fields.title, 64);
    icon->balloonFlags = DwordAt(bytes, Fields.title + 64 * sizeof(wchar_t));
    icon->balloonTick = GetTickCount();
  }
  return TRUE;
}

LRESULT CALLBACK TaskbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA) return DefWindowProcW(window, message, wParam, lParam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (!data->lpData) return FALSE;
  return Apply(data->dwData, std::string(static_cast<const char*>(data->lpData), data->cbData));
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

// An icon of the taskbar's own window with known contents, added, changed
// and removed through the system's shell.
bool Probe() {
  NOTIFYICONDATAW probe = {};
  probe.cbSize = sizeof probe;
  probe.hWnd = TaskbarWindow;
  probe.uID = ProbeId;
  probe.uFlags = NIF_MESSAGE | NIF_TIP;
  probe.uCallbackMessage = ProbeCallback;
  wcscpy_s(probe.szTip, ProbeTip);
  bool sent = Shell_NotifyIconW(NIM_ADD, &probe) != FALSE;
  probe.uFlags = NIF_INFO;
  wcscpy_s(probe.szInfo, ProbeInfo);
  wcscpy_s(probe.szInfoTitle, ProbeTitle);
  sent = Shell_NotifyIconW(NIM_MODIFY, &probe) && sent;
  Shell_NotifyIconW(NIM_DELETE, &probe);
  std::lock_guard<std::mutex> hold(Lock);
  Learned = sent && Probes.size() >= 2 && LearnLayout(Probes[0], Probes[1], &Fields);
  Probes.clear();
  return Learned;
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
    return TaskbarWindow != nullptr && FindWindowW(L"Shell_TrayWnd", nullptr) == TaskbarWindow && Probe();
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
