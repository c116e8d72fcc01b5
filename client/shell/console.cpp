#include "shell/console.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

void WriteHandle(DWORD which, const char* bytes, size_t length) {
  HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  while (length > 0) {
    DWORD chunk = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(out, bytes, chunk, &written, nullptr) || written == 0) return;
    bytes += written;
    length -= written;
  }
}

}  // namespace

void WriteStdout(const char* text, size_t length) { WriteHandle(STD_OUTPUT_HANDLE, text, length); }

void WriteStdout(const char* text) { WriteStdout(text, strlen(text)); }

void PrintStderr(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  int needed = _vscwprintf(format, measure);
  va_end(measure);
  if (needed < 0) {
    va_end(args);
    return;
  }
  std::vector<wchar_t> line(static_cast<size_t>(needed) + 1);
  _vsnwprintf(line.data(), line.size(), format, args);
  va_end(args);
  line.back() = L'\0';

  int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), needed, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::vector<char> utf8(static_cast<size_t>(bytes));
  WideCharToMultiByte(CP_UTF8, 0, line.data(), needed, utf8.data(), bytes, nullptr, nullptr);
  WriteHandle(STD_ERROR_HANDLE, utf8.data(), utf8.size());
}
