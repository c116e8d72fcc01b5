#include "call_log.h"

namespace {

constexpr wchar_t LogVariable[] = L"NORV_WEBVIEW_LOG";
constexpr DWORD LogPathCapacity = 2 * MAX_PATH;

}  // namespace

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
  return utf8;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], size);
  return wide;
}

void Log(const std::wstring& line) {
  wchar_t path[LogPathCapacity] = {};
  DWORD length = GetEnvironmentVariableW(LogVariable, path, LogPathCapacity);
  if (length == 0 || length >= LogPathCapacity) return;
  // One line per entry, whatever the text holds.
  std::wstring flat = line;
  for (auto& c : flat)
    if (c == L'\r' || c == L'\n') c = L' ';
  std::string bytes = Utf8(flat) + "\r\n";
  // Opened per line, sharing everything: tests read the file while we run,
  // and the development service may append its request lines to it too.
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring FlagText(BOOL value) { return value ? L"1" : L"0"; }

std::wstring ResultText(HRESULT result) {
  wchar_t text[16] = {};
  _snwprintf(text, 15, L"0x%08lX", static_cast<unsigned long>(result));
  return text;
}
