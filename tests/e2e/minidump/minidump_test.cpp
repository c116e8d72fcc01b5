// Minidumps of the installed development package's client, for
// read_crash_test.sh to read with scripts/read-crash.sh afterwards (a Linux
// script cannot be run reliably from here): one of the running client, one of
// a client made to fault in our own code by this test acting as its debugger.
// Each dump gets a <name>.thread file beside it: the id of the thread that
// must show our function (the UI thread; the faulting thread).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/test_support.h"
// dbghelp.h needs windows.h first.
#include <dbghelp.h>

namespace {

constexpr wchar_t InstallFolder[] = L"C:\\Program Files\\NorvVPN";
constexpr wchar_t InstalledClient[] = L"C:\\Program Files\\NorvVPN\\norvvpnui.exe";
constexpr DWORD InstallerTimeoutMs = 180000;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring DumpPath(const wchar_t* name) { return HostPathFromEnv("NORV_CRASH_DUMPS") + L"\\" + name; }

void WriteThreadFile(const wchar_t* dump, DWORD threadId) {
  char text[16];
  snprintf(text, sizeof text, "0x%04lx\n", threadId);
  HANDLE file = CreateFileW(DumpPath((std::wstring(dump) + L".thread").c_str()).c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
  CloseHandle(file);
}

bool WriteDump(const wchar_t* name, HANDLE process, DWORD processId, MINIDUMP_EXCEPTION_INFORMATION* exception) {
  HANDLE file = CreateFileW(DumpPath(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const BOOL written = MiniDumpWriteDump(process, processId, file, MiniDumpNormal, exception, nullptr, nullptr);
  CloseHandle(file);
  return written;
}

// The silent install of the development package, and the silent uninstall at
// the end, so the installer test finds the prefix as before.
class Installed {
 public:
  Installed() {
    RunFolder folder;
    ChildOptions options;
    options.outputFile = folder.File(L"installer.log");  // Wine's desktop process would keep a pipe
    ChildProcess installer;
    DWORD status = 1;
    ok_ = installer.Start(HostPathFromEnv("NORV_INSTALLER"), L"/S", {}, options) &&
          installer.Wait(InstallerTimeoutMs, &status) && status == 0 && Exists(InstalledClient);
  }
  ~Installed() {
    RunProcess(std::wstring(InstallFolder) + L"\\uninstall.exe", L"/S", InstallerTimeoutMs);
    // The uninstaller goes on from a copy of itself; the folder goes last.
    EXPECT_TRUE(WaitUntil([] { return !Exists(InstallFolder); }, InstallerTimeoutMs));
  }
  bool Ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// The address of a function of ours relative to the image, from the COFF
// symbol table of the program's .debug file.
DWORD FunctionRva(const std::string& image, const char* symbol) {
  auto at = [&](size_t offset, size_t size) { return offset + size <= image.size(); };
  if (!at(0x3c, 4)) return 0;
  DWORD pe = 0;
  memcpy(&pe, &image[0x3c], 4);
  if (!at(pe, 24)) return 0;
  IMAGE_FILE_HEADER header;
  memcpy(&header, &image[pe + 4], sizeof header);
  const size_t sections = pe + 24 + header.SizeOfOptionalHeader;
  const size_t strings = header.PointerToSymbolTable + 18 * size_t{header.NumberOfSymbols};
  for (DWORD i = 0; i < header.NumberOfSymbols && at(header.PointerToSymbolTable + 18 * i, 18); ++i) {
    IMAGE_SYMBOL entry;
    memcpy(&entry, &image[header.PointerToSymbolTable + 18 * i], 18);
    const char* shortName = reinterpret_cast<const char*>(entry.N.ShortName);
    const std::string name = entry.N.Name.Short ? std::string(shortName, strnlen(shortName, 8))
                                                : std::string(image.c_str() + strings + entry.N.Name.Long);
    if (name == symbol && entry.SectionNumber > 0 && entry.SectionNumber <= header.NumberOfSections) {
      IMAGE_SECTION_HEADER section;
      memcpy(&section, &image[sections + 40 * (entry.SectionNumber - 1)], sizeof section);
      return section.VirtualAddress + entry.Value;
    }
    i += entry.NumberOfAuxSymbols;
  }
  return 0;
}

TEST(Minidump, OfTheRunningClientAndOfAFaultInOurCode) {
  for (const wchar_t* file : {L"running.mdmp", L"running.mdmp.thread", L"fault.mdmp", L"fault.mdmp.thread"})
    DeleteFileW(DumpPath(file).c_str());
  Installed installed;
  ASSERT_TRUE(installed.Ok()) << "the development package did not install";

  // The running client, its window up and its message loop answering.
  {
    ChildProcess client;
    ASSERT_TRUE(client.Start(InstalledClient, L""));
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindWindowW(L"NorvVpnUI", nullptr)) != nullptr; }, LivenessMs));
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, LivenessMs, &answer));
    ASSERT_TRUE(WriteDump(L"running.mdmp", client.Handle(), client.Id(), nullptr)) << GetLastError();
    WriteThreadFile(L"running.mdmp", GetWindowThreadProcessId(window, nullptr));
  }

  // A client whose argument list is read by PickToolMode: at its entry, as
  // its debugger, this test points the list (rdx) at the never-mapped first
  // page, and writes the dump when the access violation comes.
  const DWORD rva = FunctionRva(ReadFileText(HostPathFromEnv("NORV_CLIENT_DEBUG")), "_Z12PickToolModeiPPw");
  ASSERT_NE(0u, rva) << "no PickToolMode in the client's symbols";
  std::wstring commandLine = std::wstring(L"\"") + InstalledClient + L"\" connect";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(CreateProcessW(InstalledClient, &commandLine[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                             nullptr, nullptr, &startup, &info));
  BYTE* entry = nullptr;
  BYTE original = 0;
  bool corrupted = false, dumped = false, ended = false;
  DEBUG_EVENT event = {};
  while (!ended && WaitForDebugEvent(&event, LivenessMs)) {
    DWORD status = DBG_CONTINUE;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
      entry = static_cast<BYTE*>(event.u.CreateProcessInfo.lpBaseOfImage) + rva;
      const BYTE trap = 0xCC;
      EXPECT_TRUE(ReadProcessMemory(info.hProcess, entry, &original, 1, nullptr) &&
                  WriteProcessMemory(info.hProcess, entry, &trap, 1, nullptr) &&
                  FlushInstructionCache(info.hProcess, entry, 1));
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
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
        WriteThreadFile(L"fault.mdmp", event.dwThreadId);
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
