#include "shell/crash_dump.h"
#include <windows.h>
#include <dbghelp.h>
#include <cwchar>
#include <exception>
#include "shell/system_library.h"

namespace {

// A crashing thread gives up waiting for its dump after this: the dump
// thread can block for good on a lock the crashed thread held (the loader's).
constexpr DWORD CrashWaitMs = 30000;
constexpr int KeptDumps = 10;
// STATUS_FAIL_FAST_EXCEPTION: how Windows reports a fail-fast.
constexpr DWORD FailFastCode = 0xC0000602;

using WriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                        PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);
using SymInitializeFunction = BOOL(WINAPI*)(HANDLE, PCWSTR, BOOL);

HANDLE CrashEvent = nullptr;
HANDLE DumpThread = nullptr;
DWORD DumpThreadId = 0;
LONG Crashed = 0;
// Set by the first crashing thread before it sets CrashEvent.
EXCEPTION_POINTERS* CrashPointers = nullptr;
DWORD CrashThreadId = 0;

bool Append(wchar_t* buffer, size_t capacity, const wchar_t* text) {
  const size_t used = wcslen(buffer), added = wcslen(text);
  if (used + added >= capacity) return false;
  wmemcpy(buffer + used, text, added + 1);
  return true;
}

// %LOCALAPPDATA%\NorvVPN\CrashDumps, made when missing.
bool DumpFolder(wchar_t* folder, DWORD capacity) {
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, capacity);
  if (length == 0 || length >= capacity || !Append(folder, capacity, L"\\NorvVPN")) return false;
  CreateDirectoryW(folder, nullptr);
  if (!Append(folder, capacity, L"\\CrashDumps")) return false;
  return CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// Deletes the oldest dumps of the folder until KeptDumps are left.
void KeepNewestDumps(const wchar_t* folder) {
  wchar_t pattern[MAX_PATH] = {}, oldest[MAX_PATH] = {};
  if (!Append(pattern, MAX_PATH, folder) || !Append(pattern, MAX_PATH, L"\\*.dmp")) return;
  for (;;) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    int count = 0;
    FILETIME oldestTime = {};
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      if (count++ == 0 || CompareFileTime(&found.ftLastWriteTime, &oldestTime) < 0) {
        oldestTime = found.ftLastWriteTime;
        oldest[0] = L'\0';
        Append(oldest, MAX_PATH, found.cFileName);
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    wchar_t path[MAX_PATH] = {};
    if (count <= KeptDumps || !Append(path, MAX_PATH, folder) || !Append(path, MAX_PATH, L"\\") ||
        !Append(path, MAX_PATH, oldest) || !DeleteFileW(path))
      return;
  }
}

// <folder>\<program>.<process id>.dmp, as Windows names its dumps.
void WriteCrashDump() {
  wchar_t folder[MAX_PATH] = {}, program[MAX_PATH] = {}, path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !DumpFolder(folder, MAX_PATH)) return;
  const wchar_t* name = wcsrchr(program, L'\\') ? wcsrchr(program, L'\\') + 1 : program;
  const int written = _snwprintf(path, MAX_PATH, L"%s\\%s.%lu.dmp", folder, name, GetCurrentProcessId());
  if (written < 0 || written >= MAX_PATH) return;
  // Loaded only now: a client that never crashes never maps it.
  HMODULE dbghelp = nullptr;
  auto writeDump = LoadLibraryFunction<WriteDumpFunction>(L"dbghelp.dll", "MiniDumpWriteDump", &dbghelp);
  if (!writeDump) return;
  // A dump needs no symbols. Left to itself, Wine's dbghelp loads every
  // module's first, which takes it many seconds of the crashed thread's wait.
  if (auto initialize = reinterpret_cast<SymInitializeFunction>(
          reinterpret_cast<void*>(GetProcAddress(dbghelp, "SymInitializeW"))))
    initialize(GetCurrentProcess(), nullptr, FALSE);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  MINIDUMP_EXCEPTION_INFORMATION exception = {CrashThreadId, CrashPointers, FALSE};
  const BOOL dumped =
      writeDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &exception, nullptr, nullptr);
  CloseHandle(file);
  if (!dumped) DeleteFileW(path);
  KeepNewestDumps(folder);
}

DWORD WINAPI DumpThreadMain(void*) {
  WaitForSingleObject(CrashEvent, INFINITE);
  WriteCrashDump();
  return 0;
}

// The first crashing thread hands its exception to the dump thread; every
// crashing thread then waits for the dump, for CrashWaitMs at most.
void DumpAndWait(EXCEPTION_POINTERS* pointers) {
  if (GetCurrentThreadId() == DumpThreadId) return;  // writing the dump crashed
  if (InterlockedExchange(&Crashed, 1) == 0) {
    StartCrashDumpThread();
    CrashPointers = pointers;
    CrashThreadId = GetCurrentThreadId();
    if (CrashEvent) SetEvent(CrashEvent);
  }
  if (DumpThread) WaitForSingleObject(DumpThread, CrashWaitMs);
}

// Returning lets Windows go on: Windows Error Reporting, or a debugger.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  DumpAndWait(pointers);
  return EXCEPTION_CONTINUE_SEARCH;
}

// msvcrt's abort would end the process with status 3 and no report at all.
// The dump shows this thread where terminate was called.
void OnTerminate() {
  CONTEXT context = {};
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = FailFastCode;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers = {&record, &context};
  DumpAndWait(&pointers);
  RaiseFailFastException(&record, &context, 0);
}

}  // namespace

void InstallCrashHandler() {
  SetUnhandledExceptionFilter(OnUnhandledException);
  std::set_terminate(OnTerminate);
}

void StartCrashDumpThread() {
  if (DumpThread) return;
  if (!CrashEvent) CrashEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (CrashEvent) DumpThread = CreateThread(nullptr, 0, DumpThreadMain, nullptr, 0, &DumpThreadId);
}
