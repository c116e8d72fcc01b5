// The floor for the proxy modes: the WinINet and RAS calls that `off`,
// `pac <url>` and `global <server> <bypass>` make, and nothing else. Takes the
// same arguments; the CRT splits them, so no other library is loaded for it.
#include <windows.h>
#include <wininet.h>
#include <ras.h>
#include <raserror.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

// Stops at the first failed step, as the client does.
bool ApplyToConnection(INTERNET_PER_CONN_OPTION_LISTW* list, wchar_t* connection) {
  list->pszConnection = connection;
  return InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, list, list->dwSize) &&
         InternetSetOptionW(nullptr, INTERNET_OPTION_PROXY_SETTINGS_CHANGED, nullptr, 0) &&
         InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

void ApplyToAllConnections(INTERNET_PER_CONN_OPTION_LISTW* list) {
  DWORD bytes = 0, entries = 0;
  if (RasEnumEntriesW(nullptr, nullptr, nullptr, &bytes, &entries) != ERROR_BUFFER_TOO_SMALL) {
    if (entries == 0) ApplyToConnection(list, nullptr);
    return;
  }
  auto* names = static_cast<RASENTRYNAMEW*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
  if (!names) return;
  const DWORD capacity = bytes / sizeof(RASENTRYNAMEW);
  for (DWORD i = 0; i < entries && i < capacity; ++i) names[i].dwSize = sizeof(RASENTRYNAMEW);
  if (RasEnumEntriesW(nullptr, nullptr, names, &bytes, &entries) == 0 && ApplyToConnection(list, nullptr)) {
    for (DWORD i = 0; i < entries && i < capacity; ++i)
      if (!ApplyToConnection(list, names[i].szEntryName)) break;
  }
  HeapFree(GetProcessHeap(), 0, names);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  INTERNET_PER_CONN_OPTIONW options[3] = {};
  INTERNET_PER_CONN_OPTION_LISTW list = {};
  list.dwSize = sizeof list;
  list.pOptions = options;
  options[0].dwOption = INTERNET_PER_CONN_FLAGS;
  if (__argc == 2 && wcscmp(__wargv[1], L"off") == 0) {
    options[0].Value.dwValue = PROXY_TYPE_DIRECT | PROXY_TYPE_AUTO_DETECT;
    list.dwOptionCount = 1;
  } else if (__argc == 3 && wcscmp(__wargv[1], L"pac") == 0) {
    options[0].Value.dwValue = PROXY_TYPE_DIRECT | PROXY_TYPE_AUTO_PROXY_URL;
    options[1].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    options[1].Value.pszValue = __wargv[2];
    list.dwOptionCount = 2;
  } else if (__argc == 4 && wcscmp(__wargv[1], L"global") == 0) {
    options[0].Value.dwValue = PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = __wargv[2];
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[2].Value.pszValue = __wargv[3];
    list.dwOptionCount = 3;
  } else {
    return 2;
  }
  ApplyToAllConnections(&list);
  return 0;
}
