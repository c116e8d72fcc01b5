// The user's input on a page window, as DevTools input events: mouse buttons
// (with click counts), moves, the wheel, and keys as the browser takes them
// on Windows (rawKeyDown, char, keyUp).
#include <windowsx.h>
#include <cmath>
#include "page_window.h"
#include "call_log.h"
#include "page_window_state.h"

namespace {

constexpr double WheelPixelsPerNotch = 100.0;
// The browser's zoom steps.
constexpr double ZoomLevels[] = {0.25, 0.33, 0.5, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0, 4.0, 5.0};

int Modifiers() {
  int modifiers = 0;
  if (GetKeyState(VK_MENU) < 0) modifiers |= 1;
  if (GetKeyState(VK_CONTROL) < 0) modifiers |= 2;
  if (GetKeyState(VK_LWIN) < 0 || GetKeyState(VK_RWIN) < 0) modifiers |= 4;
  if (GetKeyState(VK_SHIFT) < 0) modifiers |= 8;
  return modifiers;
}

int HeldButtons(WPARAM keys) {
  return ((keys & MK_LBUTTON) ? 1 : 0) | ((keys & MK_RBUTTON) ? 2 : 0) | ((keys & MK_MBUTTON) ? 4 : 0);
}

const char* ButtonName(int button) {
  switch (button) {
    case 1: return "left";
    case 2: return "right";
    case 4: return "middle";
    default: return "none";
  }
}

void SendMouse(PageWindow* page, const char* type, int x, int y, int button, int buttons, int clicks) {
  Json event = {{"type", type},
                {"x", x / page->zoom},
                {"y", y / page->zoom},
                {"modifiers", Modifiers()},
                {"button", ButtonName(button)},
                {"buttons", buttons},
                {"clickCount", clicks}};
  SendCommand("Input.dispatchMouseEvent", event, page->session);
}

// Presses within the double-click time and distance count up, as the
// system's own double and triple clicks do.
int CountClick(PageWindow* page, int button, POINT at) {
  const DWORD now = GetMessageTime();
  const bool nearby = std::abs(at.x - page->lastPressAt.x) <= GetSystemMetrics(SM_CXDOUBLECLK) / 2 &&
                    std::abs(at.y - page->lastPressAt.y) <= GetSystemMetrics(SM_CYDOUBLECLK) / 2;
  if (button == page->lastPressButton && nearby && now - page->lastPressTime <= GetDoubleClickTime())
    page->clickCount = page->clickCount >= 3 ? 1 : page->clickCount + 1;
  else
    page->clickCount = 1;
  page->lastPressTime = now;
  page->lastPressAt = at;
  page->lastPressButton = button;
  return page->clickCount;
}

void Zoom(PageWindow* page, int steps) {
  size_t level = 0;
  const size_t levels = sizeof ZoomLevels / sizeof ZoomLevels[0];
  while (level + 1 < levels && ZoomLevels[level] < page->zoom - 0.001) ++level;
  if (steps == 0) {
    page->zoom = 1.0;
  } else {
    long next = static_cast<long>(level) + steps;
    if (next < 0) next = 0;
    if (next >= static_cast<long>(levels)) next = static_cast<long>(levels) - 1;
    page->zoom = ZoomLevels[next];
  }
  ApplyPageViewport(page);
}

struct KeyName {
  WPARAM key;
  const char* name;
  const char* code;
};
constexpr KeyName NamedKeys[] = {
    {VK_RETURN, "Enter", "Enter"},     {VK_TAB, "Tab", "Tab"},           {VK_BACK, "Backspace", "Backspace"},
    {VK_ESCAPE, "Escape", "Escape"},   {VK_SPACE, " ", "Space"},         {VK_DELETE, "Delete", "Delete"},
    {VK_INSERT, "Insert", "Insert"},   {VK_HOME, "Home", "Home"},        {VK_END, "End", "End"},
    {VK_PRIOR, "PageUp", "PageUp"},    {VK_NEXT, "PageDown", "PageDown"}, {VK_LEFT, "ArrowLeft", "ArrowLeft"},
    {VK_RIGHT, "ArrowRight", "ArrowRight"}, {VK_UP, "ArrowUp", "ArrowUp"}, {VK_DOWN, "ArrowDown", "ArrowDown"},
    {VK_SHIFT, "Shift", "ShiftLeft"},  {VK_CONTROL, "Control", "ControlLeft"}, {VK_MENU, "Alt", "AltLeft"},
    {VK_CAPITAL, "CapsLock", "CapsLock"},
};

void SendKey(PageWindow* page, bool down, WPARAM key, LPARAM lParam) {
  Json event = {{"type", down ? "rawKeyDown" : "keyUp"},
                {"modifiers", Modifiers()},
                {"windowsVirtualKeyCode", static_cast<int>(key)},
                {"autoRepeat", down && (lParam & 0x40000000) != 0}};
  std::string name, code;
  for (const auto& named : NamedKeys)
    if (named.key == key) {
      name = named.name;
      code = named.code;
    }
  if (key >= VK_F1 && key <= VK_F12) name = code = "F" + std::to_string(key - VK_F1 + 1);
  if (key >= 'A' && key <= 'Z') code = std::string("Key") + static_cast<char>(key);
  if (key >= '0' && key <= '9') code = std::string("Digit") + static_cast<char>(key);
  if (name.empty()) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    wchar_t typed[4] = {};
    int count = ToUnicode(static_cast<UINT>(key), (lParam >> 16) & 0xFF, state, typed, 4, 0x4);
    if (count > 0) name = Utf8(std::wstring(typed, static_cast<size_t>(count)));
  }
  if (!name.empty()) event["key"] = name;
  if (!code.empty()) event["code"] = code;
  SendCommand("Input.dispatchKeyEvent", event, page->session);
}

void SendCharacter(PageWindow* page, wchar_t character) {
  // Keys without text of their own already went as rawKeyDown; Enter's "\r" is text.
  if (character < 0x20 && character != L'\r') return;
  std::string text = Utf8(std::wstring(1, character));
  SendCommand("Input.dispatchKeyEvent",
              {{"type", "char"}, {"modifiers", Modifiers()}, {"text", text}, {"unmodifiedText", text}},
              page->session);
}

bool IsZoomKey(WPARAM key, int* steps) {
  switch (key) {
    case VK_OEM_PLUS:
    case VK_ADD: *steps = 1; return true;
    case VK_OEM_MINUS:
    case VK_SUBTRACT: *steps = -1; return true;
    case '0':
    case VK_NUMPAD0: *steps = 0; return true;
    default: return false;
  }
}

}  // namespace

bool ForwardPageInput(PageWindow* page, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  switch (message) {
    case WM_MOUSEMOVE:
      SendMouse(page, "mouseMoved", at.x, at.y, 0, HeldButtons(wParam), 0);
      return true;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      const int button = message == WM_LBUTTONDOWN ? 1 : message == WM_RBUTTONDOWN ? 2 : 4;
      SetFocus(window);
      SetCapture(window);
      SendMouse(page, "mousePressed", at.x, at.y, button, HeldButtons(wParam), CountClick(page, button, at));
      return true;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      const int button = message == WM_LBUTTONUP ? 1 : message == WM_RBUTTONUP ? 2 : 4;
      if (HeldButtons(wParam) == 0) ReleaseCapture();
      SendMouse(page, "mouseReleased", at.x, at.y, button, HeldButtons(wParam), page->clickCount);
      return true;
    }
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: {
      POINT inside = at;  // the wheel comes in screen coordinates
      ScreenToClient(window, &inside);
      const double notches = GET_WHEEL_DELTA_WPARAM(wParam) / static_cast<double>(WHEEL_DELTA);
      if (page->zoomControl && (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL) && message == WM_MOUSEWHEEL) {
        Zoom(page, notches > 0 ? 1 : -1);
        return true;
      }
      Json event = {{"type", "mouseWheel"},
                    {"x", inside.x / page->zoom},
                    {"y", inside.y / page->zoom},
                    {"modifiers", Modifiers()},
                    {"deltaX", message == WM_MOUSEHWHEEL ? notches * WheelPixelsPerNotch : 0.0},
                    {"deltaY", message == WM_MOUSEWHEEL ? -notches * WheelPixelsPerNotch : 0.0}};
      SendCommand("Input.dispatchMouseEvent", event, page->session);
      return true;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      int steps = 0;
      if (page->zoomControl && (Modifiers() & 2) && IsZoomKey(wParam, &steps)) {
        Zoom(page, steps);
        return true;
      }
      SendKey(page, true, wParam, lParam);
      return message == WM_KEYDOWN;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP:
      SendKey(page, false, wParam, lParam);
      return message == WM_KEYUP;
    case WM_CHAR:
      SendCharacter(page, static_cast<wchar_t>(wParam));
      return true;
    default:
      return false;
  }
}
