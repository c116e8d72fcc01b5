// Pages given on the command line, read once at start-up.
#pragma once
#include <windows.h>
#include <string>

// The whole file as bytes; false with the system's error code when it cannot
// be opened or read, or is larger than the service will keep in memory.
bool ReadPageFile(const wchar_t* path, std::string* bytes, DWORD* error);
