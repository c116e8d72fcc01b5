#include "support/wine_tray.h"
#include <commctrl.h>
#include <cwchar>

namespace {

constexpr wchar_t TrayClass[] = L"__winex11_standalone_tray";
constexpr wchar_t IconClass[] = L"__winex11_tray_icon";
constexpr size_t RemoteTextChars = 2048;

bool HasClass(HWND window, const wchar_t* name) {
  wchar_t found[64] = {};
  GetClassNameW(window, found, 64);
  return wcscmp(found, name) == 0;
}

struct TooltipSearch {
  HWND tray;
  bool balloon;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTooltip(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<TooltipSearch*>(context);
  if (HasClass(window, TOOLTIPS_CLASSW) && GetWindow(window, GW_OWNER) == search->tray &&
      ((GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON) != 0) == search->balloon) {
    search->found.push_back(window);
  }
  return TRUE;
}

std::vector<HWND> TrayTooltips(bool balloon) {
  TooltipSearch search = {FindWindowW(TrayClass, nullptr), balloon, {}};
  if (search.tray) EnumWindows(CollectTooltip, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The tooltip lives in Wine's explorer process and answers with pointers into
// its own memory, so the record and the text buffer are placed there.
bool ReadToolText(HWND tooltip, HWND icon, std::wstring* text) {
  DWORD processId = 0;
  GetWindowThreadProcessId(tooltip, &processId);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
  if (!process) return false;
  const SIZE_T size = sizeof(TTTOOLINFOW) + RemoteTextChars * sizeof(wchar_t);
  auto* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
  bool found = false;
  if (remote) {
    auto* remoteText = reinterpret_cast<wchar_t*>(remote + sizeof(TTTOOLINFOW));
    const int count = static_cast<int>(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < count && !found; ++i) {
      TTTOOLINFOW tool = {};
      tool.cbSize = sizeof tool;
      tool.lpszText = remoteText;
      std::wstring buffer(RemoteTextChars, L'\0');
      SIZE_T done = 0;
      WriteProcessMemory(process, remote, &tool, sizeof tool, &done);
      WriteProcessMemory(process, remoteText, buffer.data(), RemoteTextChars * sizeof(wchar_t), &done);
      if (!SendMessageW(tooltip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote))) continue;
      ReadProcessMemory(process, remote, &tool, sizeof tool, &done);
      if (tool.hwnd != icon) continue;
      ReadProcessMemory(process, remoteText, &buffer[0], (RemoteTextChars - 1) * sizeof(wchar_t), &done);
      *text = buffer.c_str();
      found = true;
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return found;
}

// The screen's pixels inside `area`, 32 bits each, row by row.
std::vector<DWORD> CaptureScreen(const RECT& area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(10);
  }
}

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom);
}

}  // namespace

std::vector<HWND> TrayIcons() {
  std::vector<HWND> icons;
  HWND tray = FindWindowW(TrayClass, nullptr);
  for (HWND child = tray ? GetWindow(tray, GW_CHILD) : nullptr; child; child = GetWindow(child, GW_HWNDNEXT))
    if (HasClass(child, IconClass) && IsWindowVisible(child)) icons.push_back(child);
  return icons;
}

std::wstring TrayIconTip(HWND icon) {
  std::wstring text;
  for (HWND tooltip : TrayTooltips(false))
    if (ReadToolText(tooltip, icon, &text)) return text;
  return L"";
}

HWND FindTrayIcon(const std::wstring& tip) {
  for (HWND icon : TrayIcons())
    if (TrayIconTip(icon) == tip) return icon;
  return nullptr;
}

HWND FindTrayBalloon(HWND icon) {
  std::wstring text;
  for (HWND balloon : TrayTooltips(true))
    if (IsWindowVisible(balloon) && ReadToolText(balloon, icon, &text)) return balloon;
  return nullptr;
}

std::wstring BalloonText(HWND balloon, HWND icon) {
  std::wstring text;
  ReadToolText(balloon, icon, &text);
  return text;
}

std::string CompareBalloon(HWND balloon, HWND icon, const std::wstring& title, const std::wstring& text,
                           DWORD infoFlags) {
  static const bool initialised = [] {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)initialised;
  RECT theirs, iconArea;
  GetWindowRect(balloon, &theirs);
  GetWindowRect(icon, &iconArea);
  const std::vector<DWORD> before = CaptureScreen(theirs);

  // Wine's tray points its balloon at the middle of the icon.
  HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  const DWORD style = static_cast<DWORD>(GetWindowLongW(balloon, GWL_STYLE)) & ~WS_VISIBLE;
  HWND ours = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, style, 0, 0, 0, 0, owner, nullptr, nullptr,
                              nullptr);
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof tool;
  tool.hwnd = owner;
  tool.uId = reinterpret_cast<UINT_PTR>(owner);
  tool.uFlags = TTF_TRACK | TTF_IDISHWND;
  tool.lpszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(ours, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(ours, TTM_SETTITLEW, infoFlags, reinterpret_cast<LPARAM>(title.c_str()));
  SendMessageW(ours, TTM_TRACKPOSITION, 0,
               MAKELPARAM((iconArea.left + iconArea.right) / 2, (iconArea.top + iconArea.bottom) / 2));
  SendMessageW(ours, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
  PumpFor(300);

  std::string difference;
  RECT mine;
  GetWindowRect(ours, &mine);
  if (!EqualRect(&mine, &theirs)) {
    difference = "balloon at " + RectText(theirs) + ", the expected one at " + RectText(mine);
  } else {
    const std::vector<DWORD> after = CaptureScreen(theirs);
    size_t differing = 0;
    for (size_t i = 0; i < before.size(); ++i) differing += (before[i] & 0xFFFFFF) != (after[i] & 0xFFFFFF);
    if (differing > 0)
      difference = std::to_string(differing) + " of " + std::to_string(before.size()) + " pixels differ";
  }
  DestroyWindow(ours);
  DestroyWindow(owner);
  PumpFor(100);
  return difference;
}
