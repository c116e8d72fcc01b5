// One exchange with the local service, step by step, synchronous on the
// calling thread. SendRequest runs it on a thread of its own so that no
// service can hold the caller.
#pragma once
#include "service/service_client.h"

// A 32-bit option of a session or request; the result is not needed.
void SetDwordOption(HINTERNET handle, DWORD option, DWORD value);

// The body is read until `deadline` (GetTickCount64) or BodyCapBytes, either of
// which cuts the exchange: nothing is handed over and an error is returned.
DWORD PerformExchange(const ServiceClient& client, const wchar_t* path, const wchar_t* verb,
                      const wchar_t* headers, char** body, DWORD* length, wchar_t** rawHeaders,
                      wchar_t* location, DWORD locationCapacity, DWORD* status, ULONGLONG deadline);
