// The helper every delay-loaded call goes through on its first call: loads
// the DLL from System32, finds the export and stores it in the call's import
// address table slot. That table may lie in a read-only section (binutils 2.44
// marks .idata so), so the slot's page is made writable for the store and
// given its protection back, as Windows' own helper does; the C runtime's
// helper stores into it directly and faults there.
#include <windows.h>
#include <delayimp.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;  // the image holding the descriptors: this one

namespace {

// One store at a time: two threads changing one page's protection would hand
// each other's "previous" protection back.
SRWLOCK TableLock = SRWLOCK_INIT;

// As Windows' helper: an exception naming the failure, whose handler may put
// a function in info->pfnCur and continue.
FARPROC RaiseFailure(DWORD error, DelayLoadInfo* info) {
  info->dwLastError = GetLastError();
  ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
  RaiseException(VcppException(ERROR_SEVERITY_ERROR, error), 0, 1, &argument);
  return info->pfnCur;
}

void StoreInTable(FARPROC* slot, FARPROC function) {
  constexpr DWORD Writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  AcquireSRWLockExclusive(&TableLock);
  MEMORY_BASIC_INFORMATION page = {};
  DWORD previous = 0;
  if (VirtualQuery(slot, &page, sizeof page) == sizeof page && (page.Protect & Writable)) {
    *slot = function;
  } else if (VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) {
    *slot = function;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
  }
  ReleaseSRWLockExclusive(&TableLock);
}

HMODULE LoadOnce(HMODULE* moduleSlot, LPCSTR name) {
  auto* shared = reinterpret_cast<void* volatile*>(moduleSlot);
  if (void* module = InterlockedCompareExchangePointer(shared, nullptr, nullptr)) return static_cast<HMODULE>(module);
  // Only Windows' own copy: these are system DLLs, and the program's folder
  // or the current one may hold anything.
  HMODULE loaded = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!loaded) return nullptr;
  if (void* first = InterlockedCompareExchangePointer(shared, loaded, nullptr)) {
    FreeLibrary(loaded);  // another thread was quicker
    return static_cast<HMODULE>(first);
  }
  return loaded;
}

}  // namespace

// Replaces the C runtime's helper of the same name: this object is linked
// directly, so the library member holding that one is never pulled in.
extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* slot) {
  auto* base = reinterpret_cast<BYTE*>(&__ImageBase);
  DelayLoadInfo info = {};
  info.cb = sizeof info;
  info.pidd = descriptor;
  info.ppfn = slot;
  info.szDll = reinterpret_cast<LPCSTR>(base + descriptor->rvaDLLName);
  // Descriptors holding addresses instead of offsets predate 64-bit Windows.
  if (!(descriptor->grAttrs & dlattrRva)) return RaiseFailure(ERROR_INVALID_PARAMETER, &info);

  const auto* table = reinterpret_cast<FARPROC*>(base + descriptor->rvaIAT);
  const auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->rvaINT) + (slot - table);
  info.dlp.fImportByName = !IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal);
  if (info.dlp.fImportByName)
    info.dlp.szProcName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name;
  else
    info.dlp.dwOrdinal = static_cast<DWORD>(IMAGE_ORDINAL(name->u1.Ordinal));

  info.hmodCur = LoadOnce(reinterpret_cast<HMODULE*>(base + descriptor->rvaHmod), info.szDll);
  if (!info.hmodCur) return RaiseFailure(ERROR_MOD_NOT_FOUND, &info);
  info.pfnCur = GetProcAddress(info.hmodCur, info.dlp.fImportByName ? info.dlp.szProcName
                                                                    : MAKEINTRESOURCEA(info.dlp.dwOrdinal));
  if (!info.pfnCur) return RaiseFailure(ERROR_PROC_NOT_FOUND, &info);
  // Unstored, the call still works; only the next one comes here again.
  StoreInTable(slot, info.pfnCur);
  return info.pfnCur;
}
