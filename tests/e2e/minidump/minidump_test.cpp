// Minidumps of the installed development package's client, which
// read_crash_test.sh then reads with scripts/read-crash.sh (no Linux program
// runs reliably from here): one the test writes of the running client, and
// the client's own of that client made to fault by a thread started in it,
// and of a fault in our own code made by this test as its debugger, which
// then lets go. And the client's handler in a program of its own.
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

std::wstring DumpFolder() {
  wchar_t local[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local);
  return std::wstring(local) + L"\\NorvVPN\\CrashDumps";
}

std::vector<std::wstring> DumpFiles() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((DumpFolder() + L"\\*.dmp").c_str(), &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
    names.push_back(found.cFileName);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// The crashed process ends with the crash's status, leaving its own dump
// <program>.<process id>.dmp, which is copied for read_crash_test.sh if named.
void ExpectOwnDump(HANDLE process, DWORD id, const std::wstring& program, DWORD crash, const wchar_t* copy = L"") {
  DWORD status = 0;
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, LivenessMs)) << "the crashed process still runs";
  EXPECT_TRUE(GetExitCodeProcess(process, &status) && status == crash) << std::hex << status;
  const std::wstring dump = DumpFolder() + L"\\" + program + L"." + std::to_wstring(id) + L".dmp";
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(dump.c_str())) << Narrow(dump);
  if (*copy) CopyFileW(dump.c_str(), (HostPathFromEnv("NORV_CRASH_DUMPS") + L"\\" + copy).c_str(), FALSE);
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
    const auto strlenAddress = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "strlen")));
    const DWORD start = GetTickCount();
    HANDLE thread =
        CreateRemoteThread(client.Handle(), nullptr, 0, strlenAddress, reinterpret_cast<void*>(0x10), 0, nullptr);
    ASSERT_NE(nullptr, thread) << GetLastError();
    CloseHandle(thread);
    ExpectOwnDump(client.Handle(), client.Id(), L"norvvpnui.exe", AccessViolation, L"remote-fault.mdmp");
    printf("fault to the end of the client, its dump written: %.1f s\n", (GetTickCount() - start) / 1000.0);
  }

  // With one argument, PickToolMode reads the argument list: at its entry the
  // test points the list (rdx) at the never-mapped first page, and lets go
  // when the access violation comes, so that the client's handler gets it.
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
  bool corrupted = false, detached = false, ended = false;
  DEBUG_EVENT event = {};
  while (!ended && !detached && WaitForDebugEvent(&event, LivenessMs)) {
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
      HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId);
      CONTEXT context = {};
      context.ContextFlags = CONTEXT_ALL;
      GetThreadContext(thread, &context);
      if (record.ExceptionCode == EXCEPTION_BREAKPOINT && record.ExceptionAddress == entry && !corrupted) {
        WriteProcessMemory(info.hProcess, entry, &original, 1, nullptr);
        FlushInstructionCache(info.hProcess, entry, 1);
        context.Rip = reinterpret_cast<DWORD64>(entry);
        context.Rdx = 0x10;
        corrupted = SetThreadContext(thread, &context);
      } else if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && corrupted) {
        // Left pending: detaching hands the fault back to the client.
        detached = DebugActiveProcessStop(info.dwProcessId);
      } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
        status = DBG_EXCEPTION_NOT_HANDLED;
      }
      CloseHandle(thread);
    }
    if (!detached) ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
  EXPECT_TRUE(corrupted) << "PickToolMode was not reached";
  EXPECT_TRUE(detached) << "no access violation after the corruption";
  if (detached) ExpectOwnDump(info.hProcess, info.dwProcessId, L"norvvpnui.exe", AccessViolation, L"fault.mdmp");
  TerminateProcess(info.hProcess, 1);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

// A program linking the client's handler: an exhausted stack, then ten
// terminates (a fail-fast, not abort's quiet status 3); the newest ten stay.
TEST(CrashHandler, ExhaustedStackAndTerminateLeaveDumpsOfWhichTheNewestTenStay) {
  const std::wstring folder = DumpFolder();
  for (const auto& name : DumpFiles()) DeleteFileW((folder + L"\\" + name).c_str());
  RemoveDirectoryW(folder.c_str());  // and its parent: made again when needed
  RemoveDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str());
  std::vector<std::wstring> kept;
  for (int i = 0; i < 11; ++i) {
    ChildProcess crasher;
    ASSERT_TRUE(crasher.Start(HostPathFromEnv("NORV_CRASHER"), i == 0 ? L"overflow" : L"terminate"));
    ASSERT_NO_FATAL_FAILURE(ExpectOwnDump(crasher.Handle(), crasher.Id(), L"crasher.exe",
                                          i == 0 ? 0xC00000FD : 0xC0000602));
    if (i > 0) kept.push_back(L"crasher.exe." + std::to_wstring(crasher.Id()) + L".dmp");
  }
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, DumpFiles());
}

}  // namespace
