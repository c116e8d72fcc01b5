// Making a controller for the environment: the handler is called later from
// the message loop, with the controller or the failure.
#pragma once
#include <windows.h>
#include "webview/webview2.h"

void StartController(HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler);
