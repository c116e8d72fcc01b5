#include "page_window.h"
#include <map>
#include "call_log.h"
#include "frame_decoder.h"
#include "module.h"
#include "page_window_state.h"

namespace {

constexpr wchar_t PageClass[] = L"NorvWebViewPage";
constexpr wchar_t PopupClass[] = L"NorvWebViewPopup";

CRITICAL_SECTION FrameLock;
std::map<std::string, PageWindow*> FrameSinks;  // by session, under FrameLock

struct LockSetup {
  LockSetup() { InitializeCriticalSection(&FrameLock); }
} lockSetup;

void Paint(PageWindow* page, HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT area;
  GetClientRect(window, &area);
  unsigned frame = 0;
  EnterCriticalSection(&FrameLock);
  RECT covered = {0, 0, 0, 0};
  if (!page->blank && !page->pixels.empty()) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = page->frameWidth;
    info.bmiHeader.biHeight = -page->frameHeight;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, 0, 0, page->frameWidth, page->frameHeight, 0, 0, 0, page->frameHeight,
                      page->pixels.data(), &info, DIB_RGB_COLORS);
    covered = {0, 0, page->frameWidth, page->frameHeight};
    if (page->counting && page->counted > page->painted) frame = page->painted = page->counted;
  }
  LeaveCriticalSection(&FrameLock);
  // Whatever the frame does not cover (a resize on its way, or no page yet) is white.
  HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  RECT right = {covered.right, 0, area.right, area.bottom};
  RECT below = {0, covered.bottom, covered.right, area.bottom};
  if (right.left < right.right) FillRect(dc, &right, white);
  if (below.top < below.bottom) FillRect(dc, &below, white);
  EndPaint(window, &paint);
  if (frame) Log(L"Frame.painted " + std::to_wstring(frame));
}

void StartScreencast(PageWindow* page) {
  if (page->screencasting) return;
  page->screencasting = true;
  SendCommand("Page.startScreencast", {{"format", "png"}, {"everyNthFrame", 1}}, page->session);
}

void StopScreencast(PageWindow* page) {
  if (!page->screencasting) return;
  page->screencasting = false;
  SendCommand("Page.stopScreencast", Json::object(), page->session);
}

LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* page = static_cast<PageWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    page->window = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(page));
  }
  auto* page = reinterpret_cast<PageWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!page) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_PAINT:
      Paint(page, window);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // Paint covers every pixel
    case WM_SIZE:
      if (LOWORD(lParam) > 0 && HIWORD(lParam) > 0) ApplyPageViewport(page);
      return 0;
    case WM_CLOSE:
      if (page->closed) page->closed();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      EnterCriticalSection(&FrameLock);
      page->window = nullptr;
      LeaveCriticalSection(&FrameLock);
      break;
    default:
      if (ForwardPageInput(page, window, message, wParam, lParam)) return 0;
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = PageProc;
  windowClass.hInstance = RuntimeModule();
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = PageClass;
  RegisterClassW(&windowClass);
  windowClass.lpszClassName = PopupClass;
  windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  RegisterClassW(&windowClass);
  registered = true;
}

}  // namespace

PageWindow* CreatePageWindow(HWND parent, const RECT& bounds, const std::string& session, const std::wstring& title) {
  RegisterClasses();
  auto* page = new PageWindow;
  page->session = session;
  page->popup = parent == nullptr;
  EnterCriticalSection(&FrameLock);
  FrameSinks[session] = page;
  LeaveCriticalSection(&FrameLock);
  HWND window;
  if (page->popup) {
    RECT outer = {0, 0, bounds.right, bounds.bottom};
    AdjustWindowRectEx(&outer, WS_OVERLAPPEDWINDOW, FALSE, 0);
    window = CreateWindowExW(0, PopupClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, RuntimeModule(),
                             page);
  } else {
    window = CreateWindowExW(0, PageClass, L"", WS_CHILD | WS_CLIPSIBLINGS, bounds.left, bounds.top,
                             bounds.right - bounds.left, bounds.bottom - bounds.top, parent, nullptr,
                             RuntimeModule(), page);
  }
  if (!window) {
    DestroyPageWindow(page);
    return nullptr;
  }
  return page;
}

void DestroyPageWindow(PageWindow* page) {
  if (!page) return;
  EnterCriticalSection(&FrameLock);
  FrameSinks.erase(page->session);
  LeaveCriticalSection(&FrameLock);
  // The parent may have destroyed our window with itself.
  if (page->window && IsWindow(page->window)) DestroyWindow(page->window);
  delete page;
}

void SetPageVisible(PageWindow* page, bool visible) {
  page->visible = visible;
  ShowWindow(page->window, visible ? (page->popup ? SW_SHOWNORMAL : SW_SHOWNA) : SW_HIDE);
  // A hidden page is not drawn; showing it again draws its current state.
  if (visible)
    StartScreencast(page);
  else
    StopScreencast(page);
}

void SetPageBounds(PageWindow* page, const RECT& bounds) {
  MoveWindow(page->window, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, TRUE);
}

void SetPageParent(PageWindow* page, HWND parent) {
  if (GetParent(page->window) != parent) SetParent(page->window, parent);
}

void SetPageBlank(PageWindow* page, bool blank) {
  if (page->blank == blank) return;
  page->blank = blank;
  InvalidateRect(page->window, nullptr, FALSE);
}

void SetPageZoomControl(PageWindow* page, bool enabled) {
  page->zoomControl = enabled;
  if (!enabled && page->zoom != 1.0) {
    page->zoom = 1.0;
    ApplyPageViewport(page);
  }
}

void OnPageCommitted(const std::string& session, const Json& params) {
  if (params.value("frame", Json::object()).contains("parentId")) return;
  EnterCriticalSection(&FrameLock);
  auto sink = FrameSinks.find(session);
  if (sink != FrameSinks.end() && !sink->second->popup) sink->second->counting = true;
  LeaveCriticalSection(&FrameLock);
}

void SetPageCloseHandler(PageWindow* page, std::function<void()> closed) { page->closed = std::move(closed); }

void ApplyPageViewport(PageWindow* page) {
  RECT area;
  GetClientRect(page->window, &area);
  if (area.right <= 0 || area.bottom <= 0) return;
  const Json metrics = {{"width", static_cast<int>(area.right / page->zoom + 0.5)},
                        {"height", static_cast<int>(area.bottom / page->zoom + 0.5)},
                        {"deviceScaleFactor", page->zoom},
                        {"mobile", false}};
  SendCommand("Emulation.setDeviceMetricsOverride", metrics, page->session);
}

void OnScreencastFrame(const std::string& session, const Json& params) {
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  const bool decoded = DecodeFrame(params.value("data", ""), &pixels, &width, &height);
  // The browser sends the next frame only after this.
  SendCommand("Page.screencastFrameAck", {{"sessionId", params.value("sessionId", 0)}}, session);
  if (!decoded) return;
  HWND window = nullptr;
  EnterCriticalSection(&FrameLock);
  auto sink = FrameSinks.find(session);
  if (sink != FrameSinks.end()) {
    PageWindow* page = sink->second;
    page->pixels.swap(pixels);
    page->frameWidth = width;
    page->frameHeight = height;
    if (page->counting) ++page->counted;
    window = page->window;
  }
  LeaveCriticalSection(&FrameLock);
  if (window) InvalidateRect(window, nullptr, FALSE);
}
