// Development stand-in for the WebView2 loader and runtime; never shipped.
// What the stand-in's parts share: the call log, deferred delivery, the page
// window, the scripted answers, and the COM objects the client gets.
#pragma once
#include <functional>
#include <string>
#include "webview/webview2.h"

// Appends one UTF-8 line to the file named by NORV_WEBVIEW_LOG, if set.
void Log(const std::wstring& line);
std::wstring FlagText(BOOL value);  // "0" or "1"

// Runs the task from the calling thread's message loop, never inside the
// current call, as the runtime delivers completions and events.
void Later(std::function<void()> task);

HINSTANCE StandInModule();

// A CoTaskMemAlloc copy that the caller frees, as the runtime's out strings.
HRESULT CopyOut(const std::wstring& text, LPWSTR* out);

// COM counting shared by the stand-in's objects; returns the new count.
ULONG ChangeCount(volatile LONG* count, LONG delta);
// QueryInterface for an object that answers IUnknown and one interface.
HRESULT AnswerQuery(IUnknown* self, const IID& own, REFIID iid, void** out);

// The state the page window shows; Unknown until a script has asked, since
// the stand-in sends no requests of its own when it navigates.
enum class SwitchState { Unknown, None, Off, On };
const wchar_t* SwitchText(SwitchState state);  // "unknown", "none", "off", "on"

// The plain child window standing in for the rendered page.
HWND CreatePageWindow(HWND parent);
void ShowPageState(HWND window, const std::wstring& address, SwitchState state);

// The JSON result of a script, worked out by asking the development service
// where the script is one of the vpn_switch scripts; updates *state.
std::wstring RunScript(const std::wstring& script, SwitchState* state);

// The web view a controller hosts in parent; its count starts at 1.
ICoreWebView2Controller* CreateController(HWND parent);
// Releases the stand-in's own reference without logging it.
void DropController(ICoreWebView2Controller* controller);

// Failures after Close, as the runtime reports them.
constexpr HRESULT ClosedError = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
