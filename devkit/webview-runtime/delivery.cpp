#include "delivery.h"
#include <windows.h>
#include <deque>
#include <memory>
#include "module.h"

namespace {

constexpr wchar_t QueueClass[] = L"NorvWebViewRuntimeQueue";
constexpr UINT WM_RUN_TASKS = WM_APP + 0x57;

CRITICAL_SECTION QueueLock;
std::deque<std::function<void()>> Queue;  // under QueueLock
bool WakePosted = false;                  // under QueueLock
HWND QueueWindow = nullptr;
DWORD QueueThread = 0;
bool Running = false;  // UI thread only

void Wake() {
  // Under QueueLock: one wake-up message in flight at a time.
  if (WakePosted || Queue.empty() || !QueueWindow) return;
  WakePosted = PostMessageW(QueueWindow, WM_RUN_TASKS, 0, 0) != FALSE;
}

// One task per message, so the client's own messages interleave with ours.
void RunOneTask() {
  std::function<void()> task;
  EnterCriticalSection(&QueueLock);
  WakePosted = false;
  if (Running || Queue.empty()) {
    // A task is running a modal loop: the next one waits until it returns.
    LeaveCriticalSection(&QueueLock);
    return;
  }
  task = std::move(Queue.front());
  Queue.pop_front();
  LeaveCriticalSection(&QueueLock);

  Running = true;
  task();
  Running = false;

  EnterCriticalSection(&QueueLock);
  Wake();
  LeaveCriticalSection(&QueueLock);
}

LRESULT CALLBACK QueueProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_RUN_TASKS) {
    RunOneTask();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

struct LockSetup {
  LockSetup() { InitializeCriticalSection(&QueueLock); }
} lockSetup;

}  // namespace

bool StartDelivery() {
  if (QueueWindow) return QueueThread == GetCurrentThreadId();
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = QueueProc;
  windowClass.hInstance = RuntimeModule();
  windowClass.lpszClassName = QueueClass;
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, QueueClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, RuntimeModule(), nullptr);
  if (!window) return false;
  EnterCriticalSection(&QueueLock);
  QueueWindow = window;
  QueueThread = GetCurrentThreadId();
  Wake();
  LeaveCriticalSection(&QueueLock);
  return true;
}

void Deliver(std::function<void()> task) {
  EnterCriticalSection(&QueueLock);
  Queue.push_back(std::move(task));
  Wake();
  LeaveCriticalSection(&QueueLock);
}

bool OnDeliveryThread() { return QueueThread != 0 && QueueThread == GetCurrentThreadId(); }
