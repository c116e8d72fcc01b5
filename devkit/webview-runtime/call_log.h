// The runtime's call log: one line per call the client makes, per handler
// the runtime invokes or releases, and per notable runtime step, appended to
// the file named by NORV_WEBVIEW_LOG (nothing when it is not set).
#pragma once
#include <windows.h>
#include <string>

void Log(const std::wstring& line);
std::wstring FlagText(BOOL value);       // "0" or "1"
std::wstring ResultText(HRESULT result);  // "0x80070002"

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
