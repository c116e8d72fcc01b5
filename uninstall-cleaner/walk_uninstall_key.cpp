#include "walk_uninstall_key.h"

#include <stdio.h>
#include <string.h>

namespace {

const DWORD kClassChars = 260;
const DWORD kSubkeyNameChars = 255;  // names of up to 254 characters
const DWORD kPathBytes = 0x3FFF;
const DWORD kValueNameChars = 0x3FFF;
const DWORD kValueDataBytes = 0x3FFF;

// Whole-string, case-sensitive: neither a prefix nor an extension matches.
bool SameText(const char* text, size_t capacity, const char* wanted) {
  size_t length = strnlen(text, capacity);
  return length == strlen(wanted) && memcmp(text, wanted, length) == 0;
}

void MatchValues(HKEY parent, const char* name, HKEY key, const char* path, DWORD valueCount,
                 const char* valueName, const char* wantedData, bool doDelete, bool* deleted) {
  // Both buffers come from the heap: 32 KB per level would not let a deep
  // tree's recursion fit into the default 1 MiB stack.
  char* foundName = static_cast<char*>(LocalAlloc(LMEM_FIXED, kValueNameChars));
  char* data = static_cast<char*>(LocalAlloc(LMEM_FIXED, kValueDataBytes));
  if (foundName && data) {
    for (DWORD index = 0; index < valueCount; ++index) {
      // Cleared each time: binary data without a NUL must not run on into
      // what a longer earlier value left behind.
      memset(foundName, 0, kValueNameChars);
      memset(data, 0, kValueDataBytes);
      DWORD nameLength = kValueNameChars;
      DWORD dataSize = kValueDataBytes;
      if (RegEnumValueA(key, index, foundName, &nameLength, nullptr, nullptr,
                        reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS)
        continue;
      // The default value has an empty name, so it never matches.
      if (!SameText(foundName, kValueNameChars, valueName) ||
          !SameText(data, kValueDataBytes, wantedData))
        continue;
      if (!doDelete) {
        printf("found name %s:%s at %s\n", foundName, data, path);
        continue;
      }
      // Only a key without subkeys goes; one that kept some (they did not
      // match themselves) is refused and stays.
      LONG status = RegDeleteKeyA(parent, name);
      if (status == ERROR_SUCCESS) {
        printf("deleted name %s:%s at %s\n", foundName, data, path);
        *deleted = true;
      } else {
        printf("failed to delete name %s:%s at %s: error %lu\n", foundName, data, path,
               static_cast<unsigned long>(status));
      }
    }
  }
  if (foundName) LocalFree(foundName);
  if (data) LocalFree(data);
}

// Walks parent\name, whose full path below the root is path. Keys are opened
// and deleted through their parent's handle: the ANSI functions may refuse a
// long full path (Wine's stop at 260 characters), a single name never.
// Returns whether the key itself was deleted.
bool WalkKey(HKEY parent, const char* name, const char* path, const char* valueName,
             const char* wantedData, bool doDelete) {
  HKEY key;
  if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;

  char className[kClassChars];
  DWORD classLength = kClassChars;
  DWORD subkeyCount = 0, valueCount = 0;
  FILETIME lastWrite;
  if (RegQueryInfoKeyA(key, className, &classLength, nullptr, &subkeyCount, nullptr, nullptr,
                       &valueCount, nullptr, nullptr, nullptr, &lastWrite) != ERROR_SUCCESS) {
    subkeyCount = 0;
    valueCount = 0;
  }

  const size_t pathLength = strlen(path);
  char subkeyName[kSubkeyNameChars];
  DWORD index = 0;
  while (index < subkeyCount) {
    DWORD nameLength = kSubkeyNameChars;
    bool childDeleted = false;
    // A subkey whose path, separator, name and NUL do not fit is skipped.
    if (RegEnumKeyExA(key, index, subkeyName, &nameLength, nullptr, nullptr, nullptr,
                      &lastWrite) == ERROR_SUCCESS &&
        pathLength + 1 + nameLength + 1 <= kPathBytes) {
      char* subkeyPath = static_cast<char*>(LocalAlloc(LMEM_FIXED, kPathBytes));
      if (subkeyPath) {
        memcpy(subkeyPath, path, pathLength);
        subkeyPath[pathLength] = '\\';
        memcpy(subkeyPath + pathLength + 1, subkeyName, nameLength);
        subkeyPath[pathLength + 1 + nameLength] = '\0';
        childDeleted = WalkKey(key, subkeyName, subkeyPath, valueName, wantedData, doDelete);
        LocalFree(subkeyPath);
      }
    }
    // A deleted child pulls every later sibling down one index: stay on this
    // index, or the next sibling would be passed over.
    if (childDeleted)
      --subkeyCount;
    else
      ++index;
  }

  bool deleted = false;
  if (valueCount != 0)
    MatchValues(parent, name, key, path, valueCount, valueName, wantedData, doDelete, &deleted);
  RegCloseKey(key);
  return deleted;
}

}  // namespace

void WalkUninstallKey(HKEY root, const char* path, const char* valueName,
                      const char* wantedData, bool doDelete) {
  WalkKey(root, path, path, valueName, wantedData, doDelete);
}
