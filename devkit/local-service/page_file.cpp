#include "page_file.h"

namespace {

constexpr LONGLONG MaxPageBytes = 16 * 1024 * 1024;

}  // namespace

bool ReadPageFile(const wchar_t* path, std::string* bytes, DWORD* error) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  LARGE_INTEGER size = {};
  bool ok = GetFileSizeEx(file, &size) != 0;
  *error = ok ? ERROR_SUCCESS : GetLastError();
  if (ok && size.QuadPart > MaxPageBytes) {
    ok = false;
    *error = ERROR_FILE_TOO_LARGE;
  }
  if (ok) bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (ok && done < bytes->size()) {
    DWORD read = 0;
    ok = ReadFile(file, &(*bytes)[done], static_cast<DWORD>(bytes->size() - done), &read, nullptr) != 0;
    if (!ok) *error = GetLastError();
    if (ok && read == 0) break;  // shrank since we asked its size
    done += read;
  }
  bytes->resize(done);
  CloseHandle(file);
  return ok;
}
