// The stand-in's plumbing: call log, deferred delivery, out strings, counts.
#include <memory>
#include "standin.h"

namespace {

constexpr wchar_t LogVariable[] = L"NORV_WEBVIEW_LOG";
constexpr wchar_t QueueClass[] = L"NorvWebViewStandInQueue";
constexpr UINT WM_RUN_LATER = WM_APP + 0x57;

LRESULT CALLBACK QueueProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_RUN_LATER) {
    std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
    (*task)();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window on the calling thread: its posted messages come back
// through that thread's own message loop.
HWND QueueWindow() {
  static HWND window = nullptr;
  static DWORD owner = 0;
  if (window && owner == GetCurrentThreadId() && IsWindow(window)) return window;
  static bool registered = false;
  if (!registered) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = QueueProc;
    windowClass.hInstance = StandInModule();
    windowClass.lpszClassName = QueueClass;
    registered = RegisterClassW(&windowClass) != 0;
  }
  window = CreateWindowExW(0, QueueClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, StandInModule(), nullptr);
  owner = GetCurrentThreadId();
  return window;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
  return utf8;
}

}  // namespace

HINSTANCE StandInModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&StandInModule), &module);
  return module;
}

void Log(const std::wstring& line) {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD length = GetEnvironmentVariableW(LogVariable, path, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return;
  // One line per call, whatever the text holds.
  std::wstring flat = line;
  for (auto& c : flat)
    if (c == L'\r' || c == L'\n') c = L' ';
  std::string bytes = Utf8(flat) + "\r\n";
  // Opened per line so a test can read the file while we run.
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring FlagText(BOOL value) { return value ? L"1" : L"0"; }

void Later(std::function<void()> task) {
  auto* posted = new std::function<void()>(std::move(task));
  HWND window = QueueWindow();
  if (!window || !PostMessageW(window, WM_RUN_LATER, 0, reinterpret_cast<LPARAM>(posted))) delete posted;
}

HRESULT CopyOut(const std::wstring& text, LPWSTR* out) {
  if (!out) return E_POINTER;
  size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*out) return E_OUTOFMEMORY;
  memcpy(*out, text.c_str(), bytes);
  return S_OK;
}

ULONG ChangeCount(volatile LONG* count, LONG delta) {
  LONG seen, next;
  do {
    seen = *count;
    next = seen + delta;
  } while (InterlockedCompareExchange(count, next, seen) != seen);
  return static_cast<ULONG>(next);
}

HRESULT AnswerQuery(IUnknown* self, const IID& own, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, own)) return E_NOINTERFACE;
  *out = self;
  self->AddRef();
  return S_OK;
}

const wchar_t* SwitchText(SwitchState state) {
  switch (state) {
    case SwitchState::On:
      return L"on";
    case SwitchState::Off:
      return L"off";
    case SwitchState::None:
      return L"none";
    default:
      return L"unknown";
  }
}
