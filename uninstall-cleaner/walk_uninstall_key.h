#pragma once
#include <windows.h>

// Reports every key at or below root\path that holds a value named valueName
// whose data, read as a string, equal wantedData; with doDelete it deletes
// each such key instead. Subkeys are walked before the key's own values.
void WalkUninstallKey(HKEY root, const char* path, const char* valueName,
                      const char* wantedData, bool doDelete);
