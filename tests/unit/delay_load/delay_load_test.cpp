// The client's delay-loaded DLLs load on the first call of one of their
// functions, also when the import address table lies in a read-only page, as
// binutils 2.44 links it: the table is written once and stays read-only.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <ras.h>
#include <wininet.h>

// winhttp.h cannot share a translation unit with wininet.h.
extern "C" __declspec(dllimport) BOOL WINAPI WinHttpCheckPlatform();
// The import address table's slots of the functions called below.
extern "C" FARPROC __imp_CoGetCurrentProcess, __imp_WinHttpCheckPlatform, __imp_InternetCanonicalizeUrlW,
    __imp_RasEnumEntriesW;

namespace {

DWORD Protection(const void* address) {
  MEMORY_BASIC_INFORMATION page = {};
  return VirtualQuery(address, &page, sizeof page) == sizeof page ? page.Protect : 0;
}

TEST(DelayLoad, FirstCallsStoreIntoAReadOnlyTableAndLeaveItReadOnly) {
  struct Case {
    const wchar_t* dll;
    const char* function;
    FARPROC* slot;
    void (*call)();
  };
  const Case cases[] = {
      {L"ole32.dll", "CoGetCurrentProcess", &__imp_CoGetCurrentProcess, [] { CoGetCurrentProcess(); }},
      {L"winhttp.dll", "WinHttpCheckPlatform", &__imp_WinHttpCheckPlatform, [] { WinHttpCheckPlatform(); }},
      {L"wininet.dll", "InternetCanonicalizeUrlW", &__imp_InternetCanonicalizeUrlW,
       [] {
         wchar_t out[64];
         DWORD chars = 64;
         InternetCanonicalizeUrlW(L"http://127.0.0.1/a b", out, &chars, 0);
       }},
      {L"rasapi32.dll", "RasEnumEntriesW", &__imp_RasEnumEntriesW,
       [] {
         RASENTRYNAMEW entry = {};
         entry.dwSize = sizeof entry;
         DWORD bytes = sizeof entry, count = 0;
         RasEnumEntriesW(nullptr, nullptr, &entry, &bytes, &count);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    DWORD previous = 0;
    ASSERT_TRUE(VirtualProtect(c.slot, sizeof *c.slot, PAGE_READONLY, &previous));
    const FARPROC before = *c.slot;
    c.call();
    HMODULE module = GetModuleHandleW(c.dll);
    ASSERT_NE(nullptr, module);
    const FARPROC exported = GetProcAddress(module, c.function);
    EXPECT_NE(exported, before) << "the slot was bound before its first call";
    EXPECT_EQ(exported, *c.slot);
    EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), Protection(c.slot));
  }
}

}  // namespace
