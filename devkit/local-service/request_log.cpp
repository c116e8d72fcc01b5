#include "request_log.h"
#include <windows.h>
#include <cstdio>

namespace {

HANDLE LogFile = INVALID_HANDLE_VALUE;
CRITICAL_SECTION LogLock;

// Tabs and line breaks inside a field would break the line's format.
std::string Field(const std::string& text) {
  std::string clean = text;
  for (char& c : clean)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return clean;
}

}  // namespace

bool OpenRequestLog(const wchar_t* path) {
  InitializeCriticalSection(&LogLock);
  if (!path) return true;
  // Others may read, and even delete, the file while we append.
  LogFile = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return LogFile != INVALID_HANDLE_VALUE;
}

std::string RequestLogLine(const HttpRequest& request) {
  std::string line = Field(request.method) + " " + Field(request.target);
  for (const auto& header : request.headers) line += "\t" + Field(header.first) + ": " + Field(header.second);
  line += "\tbody-bytes=" + std::to_string(request.bodyBytes);
  return line;
}

void LogRequest(const HttpRequest& request) {
  std::string line = RequestLogLine(request) + "\n";
  EnterCriticalSection(&LogLock);
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
  if (LogFile != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    // Unbuffered: a reader sees the line as soon as WriteFile returns.
    WriteFile(LogFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  LeaveCriticalSection(&LogLock);
}
