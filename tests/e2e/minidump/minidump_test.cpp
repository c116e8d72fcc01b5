// Minidumps of the installed development package's client, which
// read_crash_test.sh then reads with scripts/read-crash.sh (no Linux program
// runs reliably from here): one the test writes of the running client, and
// the client's own of two faults: a thread started in it at a bad address,
// and a fault in our code made by this test as its debugger, which then lets
// go. And the crash handler in a program of its own: std::terminate, an
// exhausted stack, and the newest ten dumps kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"
// These need windows.h first.
#include <dbghelp.h>
#include <shlobj.h>

namespace {

constexpr wchar_t InstallFolder[] = L"C:\\Program Files\\NorvVPN";
constexpr wchar_t InstalledClient[] = L"C:\\Program Files\\NorvVPN\\norvvpnui.exe";
constexpr DWORD AccessViolation = 0xC0000005;

bool WriteDump(const wchar_t* name, HANDLE process, DWORD processId, MINIDUMP_EXCEPTION_INFORMATION* exception) {
  const std::wstring path = HostPathFromEnv("NORV_CRASH_DUMPS") + L"\\" + name;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  const bool written = file != INVALID_HANDLE_VALUE &&
                       MiniDumpWriteDump(process, processId, file, MiniDumpNormal, exception, nullptr, nullptr);
  CloseHandle(file);
  return written;
}

// A function's address relative to the image, from the COFF symbol table of
// the program's .debug file.
DWORD FunctionRva(const std::string& image, const char* symbol) {
  IMAGE_FILE_HEADER header = {};
  DWORD pe = 0;
  if (image.size() < 0x40) return 0;
  memcpy(&pe, &image[0x3c], 4);
  memcpy(&header, &image[pe + 4], sizeof header);
  const size_t strings = header.PointerToSymbolTable + size_t{IMAGE_SIZEOF_SYMBOL} * header.NumberOfSymbols;
  for (DWORD i = 0; i < header.NumberOfSymbols; ++i) {
    IMAGE_SYMBOL entry;
    memcpy(&entry, &image[header.PointerToSymbolTable + IMAGE_SIZEOF_SYMBOL * i], IMAGE_SIZEOF_SYMBOL);
    if (entry.N.Name.Short == 0 && strcmp(&image[strings + entry.N.Name.Long], symbol) == 0 && entry.SectionNumber > 0) {
      IMAGE_SECTION_HEADER section;
      memcpy(&section, &image[pe + 24 + header.SizeOfOptionalHeader + sizeof section * (entry.SectionNumber - 1)],
             sizeof section);
      return section.VirtualAddress + entry.Value;
    }
    i += entry.NumberOfAuxSymbols;
  }
  return 0;
}

// %LOCALAPPDATA%\NorvVPN\CrashDumps
std::wstring CrashDumpFolder() {
  wchar_t local[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local);
  return std::wstring(local) + L"\\NorvVPN\\CrashDumps";
}

// Every file in the folder, sorted.
std::vector<std::wstring> CrashDumpFiles() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((CrashDumpFolder() + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// No dumps and no folders: the next crash has to make them.
void RemoveCrashDumps() {
  const std::wstring folder = CrashDumpFolder();
  for (const auto& name : CrashDumpFiles()) DeleteFileW((folder + L"\\" + name).c_str());
  RemoveDirectoryW(folder.c_str());
  RemoveDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str());
  ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
}

struct DumpedException {
  DWORD code = 0;
  DWORD threadId = 0;
};

// The exception a dump file records; code 0 when it holds none.
DumpedException ExceptionOf(const std::wstring& path) {
  DumpedException result;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return result;
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
  MINIDUMP_DIRECTORY* directory = nullptr;
  void* stream = nullptr;
  ULONG size = 0;
  if (view && MiniDumpReadDumpStream(view, ExceptionStream, &directory, &stream, &size) &&
      size >= sizeof(MINIDUMP_EXCEPTION_STREAM)) {
    const auto* exception = static_cast<const MINIDUMP_EXCEPTION_STREAM*>(stream);
    result = {exception->ExceptionRecord.ExceptionCode, exception->ThreadId};
  }
  if (view) UnmapViewOfFile(view);
  if (mapping) CloseHandle(mapping);
  CloseHandle(file);
  return result;
}

// The process's own dump, <program>.<process id>.dmp, once it has ended with
// the exception's status; a copy goes to the dumps read_crash_test.sh reads.
void ExpectOwnDump(HANDLE process, DWORD processId, const wchar_t* program, DWORD code, DWORD threadId,
                   const wchar_t* copyName = nullptr) {
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, LivenessMs)) << "the crashed process still runs";
  DWORD status = 0;
  GetExitCodeProcess(process, &status);
  EXPECT_EQ(code, status);
  const std::wstring dump =
      CrashDumpFolder() + L"\\" + program + L"." + std::to_wstring(processId) + L".dmp";
  const DumpedException exception = ExceptionOf(dump);
  EXPECT_EQ(code, exception.code) << "no dump, or not of the crash: " << Narrow(dump);
  if (threadId != 0) {
    EXPECT_EQ(threadId, exception.threadId);
  }
  if (copyName) {
    EXPECT_TRUE(CopyFileW(dump.c_str(), (HostPathFromEnv("NORV_CRASH_DUMPS") + L"\\" + copyName).c_str(), FALSE));
  }
}

TEST(Minidump, OfTheRunningClientAndItsOwnOfFaults) {
  {
    RunFolder folder;
    ChildOptions options;
    options.outputFile = folder.File(L"installer.log");  // Wine's desktop process would keep a pipe
    ChildProcess installer;
    DWORD status = 1;
    ASSERT_TRUE(installer.Start(HostPathFromEnv("NORV_INSTALLER"), L"/S", {}, options) &&
                installer.Wait(LivenessMs, &status) && status == 0);
  }
  // Uninstalled at the end whatever happens, for the installer test.
  struct Uninstall {
    ~Uninstall() {
      RunProcess(std::wstring(InstallFolder) + L"\\uninstall.exe", L"/S");
      EXPECT_TRUE(WaitUntil([] { return GetFileAttributesW(InstallFolder) == INVALID_FILE_ATTRIBUTES; }, LivenessMs));
    }
  } uninstall;
  ASSERT_NO_FATAL_FAILURE(RemoveCrashDumps());

  {
    ChildProcess client;
    ASSERT_TRUE(client.Start(InstalledClient, L""));
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindWindowW(L"NorvVpnUI", nullptr)) != nullptr; }, LivenessMs));
    DWORD_PTR answer = 0;  // its message loop runs
    ASSERT_TRUE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, LivenessMs, &answer));
    ASSERT_TRUE(WriteDump(L"running.mdmp", client.Handle(), client.Id(), nullptr)) << GetLastError();

    // A thread of its own reads the never-mapped first page: system DLLs lie
    // at the same address in every process, so our strlen is the client's.
    const auto strlenAddress = GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "strlen");
    DWORD threadId = 0;
    HANDLE thread = CreateRemoteThread(client.Handle(), nullptr, 0,
                                       reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(strlenAddress)),
                                       reinterpret_cast<void*>(0x10), 0, &threadId);
    ASSERT_NE(nullptr, thread) << GetLastError();
    CloseHandle(thread);
    ExpectOwnDump(client.Handle(), client.Id(), L"norvvpnui.exe", AccessViolation, threadId, L"remote-fault.mdmp");
  }

  // With one argument, PickToolMode reads the argument list: at its entry the
  // test points the list (rdx) at the never-mapped first page, and lets go
  // of the client when the access violation comes, so that the client's own
  // handler sees it.
  const DWORD rva = FunctionRva(ReadFileText(HostPathFromEnv("NORV_CLIENT_DEBUG")), "_Z12PickToolModeiPPw");
  ASSERT_NE(0u, rva) << "no PickToolMode in the client's symbols";
  std::wstring commandLine = std::wstring(L"\"") + InstalledClient + L"\" connect";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(CreateProcessW(InstalledClient, &commandLine[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                             nullptr, nullptr, &startup, &info));
  BYTE *entry = nullptr, original = 0;
  const BYTE trap = 0xCC;
  bool corrupted = false, faulted = false, ended = false;
  DEBUG_EVENT event = {};
  while (!ended && !faulted && WaitForDebugEvent(&event, LivenessMs)) {
    DWORD status = DBG_CONTINUE;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      CloseHandle(event.u.CreateProcessInfo.hFile);
      entry = static_cast<BYTE*>(event.u.CreateProcessInfo.lpBaseOfImage) + rva;
      EXPECT_TRUE(ReadProcessMemory(info.hProcess, entry, &original, 1, nullptr) &&
                  WriteProcessMemory(info.hProcess, entry, &trap, 1, nullptr) &&
                  FlushInstructionCache(info.hProcess, entry, 1));
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      CloseHandle(event.u.LoadDll.hFile);
    } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
      ended = true;
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
      EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
      if (record.ExceptionCode == EXCEPTION_BREAKPOINT && record.ExceptionAddress == entry && !corrupted) {
        HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId);
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_ALL;
        GetThreadContext(thread, &context);
        WriteProcessMemory(info.hProcess, entry, &original, 1, nullptr);
        FlushInstructionCache(info.hProcess, entry, 1);
        context.Rip = reinterpret_cast<DWORD64>(entry);
        context.Rdx = 0x10;
        corrupted = SetThreadContext(thread, &context);
        CloseHandle(thread);
      } else if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && corrupted) {
        // Left pending: detaching hands the fault back to the client.
        faulted = DebugActiveProcessStop(info.dwProcessId);
        continue;
      } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
        status = DBG_EXCEPTION_NOT_HANDLED;
      }
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
  EXPECT_TRUE(corrupted) << "PickToolMode was not reached";
  EXPECT_TRUE(faulted) << "no access violation after the corruption, or no detaching";
  if (faulted) ExpectOwnDump(info.hProcess, info.dwProcessId, L"norvvpnui.exe", AccessViolation, info.dwThreadId,
                             L"fault.mdmp");
  TerminateProcess(info.hProcess, 1);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

// A program linking the client's handler: its dumps, named after it, and
// only the newest ten of them kept.
TEST(CrashHandler, TerminateAndExhaustedStackLeaveDumpsOfWhichTheNewestTenStay) {
  ASSERT_NO_FATAL_FAILURE(RemoveCrashDumps());
  const std::wstring crasher = HostPathFromEnv("NORV_CRASHER");
  std::vector<std::wstring> dumps;
  for (int i = 0; i < 11; ++i) {
    SCOPED_TRACE(i);
    const bool overflow = i == 0;
    ChildProcess process;
    ASSERT_TRUE(process.Start(crasher, overflow ? L"overflow" : L"terminate"));
    // An exhausted stack, and a fail-fast instead of abort's quiet status 3.
    ASSERT_NO_FATAL_FAILURE(ExpectOwnDump(process.Handle(), process.Id(), L"crasher.exe",
                                          overflow ? 0xC00000FDu : 0xC0000602u, 0));
    dumps.push_back(L"crasher.exe." + std::to_wstring(process.Id()) + L".dmp");
  }
  dumps.erase(dumps.begin());
  std::sort(dumps.begin(), dumps.end());
  EXPECT_EQ(dumps, CrashDumpFiles());
}

}  // namespace
