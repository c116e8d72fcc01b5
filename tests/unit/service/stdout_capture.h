// Standard output of this process redirected to a temporary file while the
// object lives; WriteStdout looks the handle up on every write.
#pragma once
#include <windows.h>
#include <string>

class StdoutCapture {
 public:
  StdoutCapture() {
    wchar_t folder[MAX_PATH] = {};
    wchar_t name[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"out", 0, name);
    file_ = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    previous_ = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, file_);
  }
  ~StdoutCapture() {
    SetStdHandle(STD_OUTPUT_HANDLE, previous_);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Everything written so far.
  std::string Text() const {
    std::string text;
    if (file_ == INVALID_HANDLE_VALUE) return text;
    SetFilePointer(file_, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file_, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    SetFilePointer(file_, 0, nullptr, FILE_END);
    return text;
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE previous_ = nullptr;
};
