// One line per request, to standard output and optionally to a file:
// "METHOD TARGET<TAB>Name: value<TAB>...<TAB>body-bytes=N".
#pragma once
#include <string>
#include "http_exchange.h"

// Call once before the first request; path may be null (standard output
// only). False when the file cannot be opened for appending.
bool OpenRequestLog(const wchar_t* path);
std::string RequestLogLine(const HttpRequest& request);
// Thread-safe; the line is in the file before the reply goes out.
void LogRequest(const HttpRequest& request);
