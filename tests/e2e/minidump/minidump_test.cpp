// Minidumps of the installed development package's client, which
// read_crash_test.sh then reads with scripts/read-crash.sh (no Linux program
// runs reliably from here): one of the running client, and one of a client
// made to fault in our own code by this test acting as its debugger.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/test_support.h"
// dbghelp.h needs windows.h first.
#include <dbghelp.h>

namespace {

constexpr wchar_t InstallFolder[] = L"C:\\Program Files\\NorvVPN";
constexpr wchar_t InstalledClient[] = L"C:\\Program Files\\NorvVPN\\norvvpnui.exe";

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

TEST(Minidump, OfTheRunningClientAndOfAFaultInOurCode) {
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
  }

  // With one argument, PickToolMode reads the argument list: at its entry the
  // test points the list (rdx) at the never-mapped first page, and writes the
  // dump when the access violation comes.
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
  bool corrupted = false, dumped = false, ended = false;
  DEBUG_EVENT event = {};
  while (!ended && WaitForDebugEvent(&event, LivenessMs)) {
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
      } else if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && corrupted && !dumped) {
        EXCEPTION_POINTERS pointers = {&record, &context};
        MINIDUMP_EXCEPTION_INFORMATION exception = {event.dwThreadId, &pointers, FALSE};
        dumped = WriteDump(L"fault.mdmp", info.hProcess, info.dwProcessId, &exception);
        TerminateProcess(info.hProcess, 3);
      } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
        status = DBG_EXCEPTION_NOT_HANDLED;
      }
      CloseHandle(thread);
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  EXPECT_TRUE(corrupted) << "PickToolMode was not reached";
  EXPECT_TRUE(dumped) << "no access violation after the corruption, or no dump";
  EXPECT_TRUE(ended);
}

}  // namespace
