#include "proxy/proxy_settings.h"
#include <cstdlib>
#include "shell/console.h"

ProxySystemCalls ProxyCalls = {InternetSetOptionW, RasEnumEntriesW, FormatMessageW};

namespace {

constexpr DWORD RasBufferTooSmall = 603;  // ERROR_BUFFER_TOO_SMALL of RAS
constexpr DWORD ErrorTextFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY;

DWORD ReportFailedStep(const wchar_t* step) {
  DWORD code = GetLastError();
  wchar_t* text = nullptr;
  ProxyCalls.formatMessage(ErrorTextFlags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  PrintStderr(L"Error %s: %lu %s\n", step, code, text ? text : L"(null)");
  if (text) LocalFree(text);
  return ProxyResultStepFailed;
}

}  // namespace

DWORD ApplyToConnection(INTERNET_PER_CONN_OPTION_LISTW* list, const wchar_t* connection) {
  list->pszConnection = const_cast<LPWSTR>(connection);
  if (!ProxyCalls.setOption(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, list, list->dwSize))
    return ReportFailedStep(L"setting options");
  if (!ProxyCalls.setOption(nullptr, INTERNET_OPTION_PROXY_SETTINGS_CHANGED, nullptr, 0))
    return ReportFailedStep(L"propagating changes");
  if (!ProxyCalls.setOption(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0))
    return ReportFailedStep(L"refreshing");
  return ProxyResultOk;
}

DWORD ApplyToAllConnections(INTERNET_PER_CONN_OPTION_LISTW* list) {
  DWORD bytes = 0;
  DWORD entries = 0;
  DWORD status = ProxyCalls.enumEntries(nullptr, nullptr, nullptr, &bytes, &entries);
  if (status != RasBufferTooSmall) {
    if (entries >= 1) {
      PrintStderr(L"Error %s\n", L"acquire buffer size");
      return ProxyResultStepFailed;
    }
    return ApplyToConnection(list, nullptr);
  }

  auto* names = static_cast<RASENTRYNAMEW*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
  if (!names) {
    PrintStderr(L"Error %s\n", L"HeapAlloc");
    return ProxyResultNoMemory;
  }
  // Only records that lie within the buffer the system asked for are touched,
  // whatever entry count it reports.
  const DWORD capacity = bytes / sizeof(RASENTRYNAMEW);
  for (DWORD i = 0; i < entries && i < capacity; ++i) names[i].dwSize = sizeof(RASENTRYNAMEW);

  DWORD result;
  status = ProxyCalls.enumEntries(nullptr, nullptr, names, &bytes, &entries);
  if (status != 0) {
    PrintStderr(L"Error RasEnumEntries: %d\n", static_cast<int>(status));
    result = ProxyResultStepFailed;
  } else {
    result = ApplyToConnection(list, nullptr);
    for (DWORD i = 0; result == ProxyResultOk && i < entries && i < capacity; ++i)
      result = ApplyToConnection(list, names[i].szEntryName);
  }
  HeapFree(GetProcessHeap(), 0, names);
  return result;
}

void AllocateOptionList(INTERNET_PER_CONN_OPTION_LISTW* list, DWORD count) {
  *list = {};
  list->dwSize = sizeof(INTERNET_PER_CONN_OPTION_LISTW);
  list->dwOptionCount = count;
  list->dwOptionError = 0;
  list->pOptions = static_cast<INTERNET_PER_CONN_OPTIONW*>(calloc(count, sizeof(INTERNET_PER_CONN_OPTIONW)));
  if (!list->pOptions) exit(ProxyOptionsExitStatus);
}

void FreeOptionList(INTERNET_PER_CONN_OPTION_LISTW* list) {
  free(list->pOptions);
  list->pOptions = nullptr;
}

DWORD SetProxyOff() {
  INTERNET_PER_CONN_OPTION_LISTW list;
  AllocateOptionList(&list, 1);
  list.pOptions[0].dwOption = INTERNET_PER_CONN_FLAGS;
  list.pOptions[0].Value.dwValue = PROXY_TYPE_DIRECT | PROXY_TYPE_AUTO_DETECT;
  DWORD result = ApplyToAllConnections(&list);
  FreeOptionList(&list);
  return result;
}
