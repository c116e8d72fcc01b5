// Functions of DLLs that are loaded at run time by name.
#pragma once
#include <windows.h>

// Looks for the DLL only beside the program and in System32, never in the
// current folder or on PATH, where anyone may have left a DLL of that name.
// Null when the DLL or its export is missing; the DLL is then not kept
// loaded. Otherwise *module holds it for the caller to free, or to keep.
FARPROC LoadLibraryExport(const wchar_t* library, const char* exportName, HMODULE* module);

template <class Function>
Function LoadLibraryFunction(const wchar_t* library, const char* exportName, HMODULE* module) {
  // Through void*: a cast between unrelated function pointer types warns.
  return reinterpret_cast<Function>(reinterpret_cast<void*>(LoadLibraryExport(library, exportName, module)));
}
