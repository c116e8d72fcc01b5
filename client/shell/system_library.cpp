#include "shell/system_library.h"

FARPROC LoadLibraryExport(const wchar_t* library, const char* exportName, HMODULE* module) {
  *module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (*module == nullptr) return nullptr;
  FARPROC function = GetProcAddress(*module, exportName);
  if (function == nullptr) {
    FreeLibrary(*module);
    *module = nullptr;
  }
  return function;
}
