// What the client tells the local service on its own behalf: the tunnel close
// when the window goes away, and the Windows edition name.
#pragma once
#include <windows.h>

// Asks for the tunnel state and, when the tunnel is open, disconnects it.
// Silent on every failure.
void CloseTunnel();

// Tells the service the user quit from the tray menu; the reply body is
// written to standard output as a trace.
void ReportClosedByUser();

// The long brand name of the running Windows edition from winbrand.dll, in
// memory the caller releases with LocalFree; null when it cannot be had.
wchar_t* QueryWindowsBrand();

// Sends "api/brandByUser/<name>" with the name percent-encoded as UTF-8. The
// reply is not read.
void ReportWindowsBrand(const wchar_t* name);
