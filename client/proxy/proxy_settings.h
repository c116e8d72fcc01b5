// Per-connection proxy settings of the current user, written to the LAN
// connection and then to every phone-book (dial-up / VPN) entry.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <ras.h>

// The system hands these records over by size; a different layout would
// silently write the wrong options.
static_assert(sizeof(INTERNET_PER_CONN_OPTION_LISTW) == 32, "INTERNET_PER_CONN_OPTION_LISTW");
static_assert(sizeof(RASENTRYNAMEW) == 1048, "RASENTRYNAMEW");

constexpr DWORD ProxyResultOk = 0;
constexpr DWORD ProxyResultStepFailed = 3;
constexpr DWORD ProxyResultNoMemory = 4;
// Exit status of a process whose option array cannot be allocated.
constexpr int ProxyOptionsExitStatus = 4;

// The system calls of this subsystem; tests put their own in place.
struct ProxySystemCalls {
  BOOL(WINAPI* setOption)(HINTERNET, DWORD, LPVOID, DWORD);
  DWORD(WINAPI* enumEntries)(LPCWSTR, LPCWSTR, LPRASENTRYNAMEW, LPDWORD, LPDWORD);
  DWORD(WINAPI* formatMessage)(DWORD, LPCVOID, DWORD, DWORD, LPWSTR, DWORD, va_list*);
};
extern ProxySystemCalls ProxyCalls;

// Writes the list to one connection (null: the LAN connection), announces the
// change and refreshes the settings. Sets the list's pszConnection.
DWORD ApplyToConnection(INTERNET_PER_CONN_OPTION_LISTW* list, const wchar_t* connection);
// The LAN connection first, then every phone-book entry in enumeration order;
// the first failure ends the walk.
DWORD ApplyToAllConnections(INTERNET_PER_CONN_OPTION_LISTW* list);
// Direct access with automatic detection on every connection.
DWORD SetProxyOff();

// A zero-filled option array of `count` entries inside `list`; the process
// ends with ProxyOptionsExitStatus when it cannot be allocated.
void AllocateOptionList(INTERNET_PER_CONN_OPTION_LISTW* list, DWORD count);
void FreeOptionList(INTERNET_PER_CONN_OPTION_LISTW* list);
