// The child window that stands in for the rendered page: it only shows the
// address and the switch state as text.
#include "standin.h"

namespace {

constexpr wchar_t PageClass[] = L"NorvWebViewStandInPage";

struct PageText {
  std::wstring address;
  SwitchState state = SwitchState::Unknown;
};

PageText* TextOf(HWND window) { return reinterpret_cast<PageText*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

void Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT area;
  GetClientRect(window, &area);
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  if (PageText* text = TextOf(window)) {
    std::wstring lines = L"Development web view stand-in (no page rendering, no script engine)\n\n" +
                         text->address + L"\n\nvpn_switch: " + SwitchText(text->state);
    InflateRect(&area, -8, -8);
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    DrawTextW(dc, lines.c_str(), -1, &area, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, oldFont);
  }
  EndPaint(window, &paint);
}

LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new PageText));
      break;
    case WM_NCDESTROY:
      delete TextOf(window);
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint(window);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreatePageWindow(HWND parent) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PageProc;
    windowClass.hInstance = StandInModule();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = PageClass;
    registered = RegisterClassW(&windowClass) != 0;
  }
  // Visible from the start, as the runtime's view; bounds come from put_Bounds.
  return CreateWindowExW(0, PageClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 0, 0, parent, nullptr,
                         StandInModule(), nullptr);
}

void ShowPageState(HWND window, const std::wstring& address, SwitchState state) {
  PageText* text = window ? TextOf(window) : nullptr;
  if (!text) return;
  text->address = address;
  text->state = state;
  InvalidateRect(window, nullptr, TRUE);
}
