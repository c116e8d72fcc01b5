// A window that shows one page target: its screencast frames painted as they
// come, and the user's mouse, wheel and keys sent to the page. Views put it
// in the client's window; the runtime's own popups are top-level ones.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include "devtools.h"

struct PageWindow;

// A child of parent at bounds (parent null: a top-level popup with the title,
// its client area bounds.right x bounds.bottom). The screencast starts when
// the window is shown.
PageWindow* CreatePageWindow(HWND parent, const RECT& bounds, const std::string& session, const std::wstring& title);
// Stops the frames, destroys the window and frees the record.
void DestroyPageWindow(PageWindow* page);

void SetPageVisible(PageWindow* page, bool visible);
void SetPageBounds(PageWindow* page, const RECT& bounds);
void SetPageParent(PageWindow* page, HWND parent);
// A blank page is painted white whatever the frames show (the network error
// page when the built-in one is switched off).
void SetPageBlank(PageWindow* page, bool blank);
// Ctrl with + - 0 or the wheel zooms the page when the control is on; when it
// is off the keys and the wheel only reach the page.
void SetPageZoomControl(PageWindow* page, bool enabled);
// Reader thread: a Page.frameNavigated event of the session. From the first
// main-frame commit of a view's page on, each paint of a new frame is logged
// "Frame.painted <n>", n the frames received so far (one paint may take
// several), so the count starts with the page, not the blank start. Taken
// here, in order with the frames: on the UI thread it may come after the
// page's only frames, and then none would ever be counted.
void OnPageCommitted(const std::string& session, const Json& params);
// The user closed a popup's window.
void SetPageCloseHandler(PageWindow* page, std::function<void()> closed);

// Reader thread: a Page.screencastFrame event of the session.
void OnScreencastFrame(const std::string& session, const Json& params);

// The input messages a page window turns into DevTools input events
// (page_input.cpp); true when the message was taken.
bool ForwardPageInput(PageWindow* page, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Sets the page's viewport to the window's client size at the zoom factor.
void ApplyPageViewport(PageWindow* page);
