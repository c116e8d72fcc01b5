// The one tunnel-state check after start: a tray balloon saying connected,
// disconnected, or that the local service is not there.
#pragma once
#include <windows.h>

// Thread body started once by WinMain; parameter is a heap int it owns.
DWORD WINAPI TunnelStateThread(LPVOID parameter);

// Asks the service once, writes the balloon fields of TrayIconData and posts
// WM_TRAYREFRESH to MainWindow if it is still a window.
void CheckTunnelStateAndNotify();
