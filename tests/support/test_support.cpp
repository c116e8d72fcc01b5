#include "support/test_support.h"
#include <winsock2.h>
#include <ws2tcpip.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return L"";
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return "";
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n, nullptr,
                      nullptr);
  return utf8;
}

std::wstring HostPath(const std::string& hostPath) {
  std::wstring path = Widen(hostPath);
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

std::wstring HostPathFromEnv(const char* variable) {
  const char* value = getenv(variable);
  return value ? HostPath(value) : std::wstring();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string ReadFileText(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

RunFolder::RunFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  static LONG counter = 0;
  wchar_t name[MAX_PATH + 64] = {};
  _snwprintf(name, MAX_PATH + 63, L"%snorv-test-%lu-%lu-%ld", temp, GetCurrentProcessId(),
             GetTickCount(), InterlockedIncrement(&counter));
  path_ = name;
  CreateDirectoryW(path_.c_str(), nullptr);
}

RunFolder::~RunFolder() {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(File(found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path_.c_str());
}

std::wstring RunFolder::Copy(const std::wstring& source, const std::wstring& newName) {
  std::wstring name = newName;
  if (name.empty()) {
    size_t slash = source.find_last_of(L"\\/");
    name = slash == std::wstring::npos ? source : source.substr(slash + 1);
  }
  std::wstring target = File(name);
  CopyFileW(source.c_str(), target.c_str(), FALSE);
  return target;
}

ChildProcess::~ChildProcess() {
  if (started_) Kill();
  for (Pipe* pipe : {out_, err_}) {
    if (pipe->thread) WaitForSingleObject(pipe->thread, 5000);
    ReleasePipe(pipe);
  }
  if (thread_) CloseHandle(thread_);
  if (process_) CloseHandle(process_);
}

ChildProcess::Pipe* ChildProcess::NewPipe() {
  Pipe* pipe = new Pipe;
  InitializeCriticalSection(&pipe->lock);
  return pipe;
}

void ChildProcess::ReleasePipe(Pipe* pipe) {
  if (InterlockedDecrement(&pipe->owners) != 0) return;
  if (pipe->thread) CloseHandle(pipe->thread);
  if (pipe->read) CloseHandle(pipe->read);
  DeleteCriticalSection(&pipe->lock);
  delete pipe;
}

DWORD WINAPI ChildProcess::Drain(void* context) {
  Pipe* pipe = static_cast<Pipe*>(context);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe->read, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    EnterCriticalSection(&pipe->lock);
    pipe->text.append(buffer, got);
    LeaveCriticalSection(&pipe->lock);
  }
  ReleasePipe(pipe);
  return 0;
}

namespace {
// An inheritable handle that appends to the file, for a child's output.
HANDLE OpenForAppending(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

bool ChildProcess::Start(const std::wstring& exe, const std::wstring& arguments,
                         const std::vector<std::wstring>& extraEnv, const ChildOptions& options) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE outWrite = nullptr, errWrite = nullptr;
  started_ = true;
  if (!options.outputFile.empty()) {
    outWrite = OpenForAppending(options.outputFile);
    DuplicateHandle(GetCurrentProcess(), outWrite, GetCurrentProcess(), &errWrite, 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
  } else {
    CreatePipe(&out_->read, &outWrite, &inherit, 0);
    SetHandleInformation(out_->read, HANDLE_FLAG_INHERIT, 0);
    if (options.stderrFile.empty()) {
      CreatePipe(&err_->read, &errWrite, &inherit, 0);
      SetHandleInformation(err_->read, HANDLE_FLAG_INHERIT, 0);
    } else {
      errWrite = OpenForAppending(options.stderrFile);
    }
  }

  // Environment block: ours with extraEnv replacing same-named entries.
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (wchar_t* p = block; *p; p += wcslen(p) + 1) entries.emplace_back(p);
  FreeEnvironmentStringsW(block);
  for (const auto& extra : extraEnv) {
    std::wstring name = extra.substr(0, extra.find(L'=') + 1);
    for (auto it = entries.begin(); it != entries.end();) {
      if (_wcsnicmp(it->c_str(), name.c_str(), name.size()) == 0)
        it = entries.erase(it);
      else
        ++it;
    }
    entries.push_back(extra);
  }
  std::wstring environment;
  for (const auto& e : entries) environment += e + L'\0';
  environment += L'\0';

  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION info = {};
  // Seen once in many loaded runs: a start refused with no process made. Say
  // why, and try again within the liveness bound.
  BOOL ok = FALSE;
  WaitUntil([&] {
    ok = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT | (options.suspended ? CREATE_SUSPENDED : 0), &environment[0],
                        options.workDir.empty() ? nullptr : options.workDir.c_str(), &startup, &info);
    if (!ok) fprintf(stderr, "CreateProcessW %ls failed: error %lu\n", exe.c_str(), GetLastError());
    return ok != FALSE || GetFileAttributesW(exe.c_str()) == INVALID_FILE_ATTRIBUTES;
  }, LivenessMs);
  if (outWrite != nullptr && outWrite != INVALID_HANDLE_VALUE) CloseHandle(outWrite);
  if (errWrite != nullptr && errWrite != INVALID_HANDLE_VALUE) CloseHandle(errWrite);
  if (!ok) return false;
  thread_ = info.hThread;
  process_ = info.hProcess;
  id_ = info.dwProcessId;
  for (Pipe* pipe : {out_, err_}) {
    if (!pipe->read) continue;
    InterlockedIncrement(&pipe->owners);
    pipe->thread = CreateThread(nullptr, 0, Drain, pipe, 0, nullptr);
    if (!pipe->thread) InterlockedDecrement(&pipe->owners);
  }
  return true;
}

void ChildProcess::Resume() {
  if (thread_) ResumeThread(thread_);
}

bool ChildProcess::Wait(DWORD milliseconds, DWORD* exitCode) {
  if (!process_ || WaitForSingleObject(process_, milliseconds) != WAIT_OBJECT_0) return false;
  // The pipes close when the process and everything it started are gone.
  for (Pipe* pipe : {out_, err_})
    if (pipe->thread) WaitForSingleObject(pipe->thread, LivenessMs);
  if (exitCode) GetExitCodeProcess(process_, exitCode);
  return true;
}

void ChildProcess::Kill() {
  if (!process_) return;
  const DWORD state = WaitForSingleObject(process_, 0);
  if (state == WAIT_OBJECT_0) return;
  // Say so when it cannot end: a process left running serves the next test.
  if (state != WAIT_TIMEOUT) {
    fprintf(stderr, "process %lu: its handle cannot be waited on (error %lu)\n", id_, GetLastError());
  } else if (!TerminateProcess(process_, 99)) {
    fprintf(stderr, "process %lu: TerminateProcess failed (error %lu)\n", id_, GetLastError());
  } else if (WaitForSingleObject(process_, LivenessMs) != WAIT_OBJECT_0) {
    fprintf(stderr, "process %lu did not end within %lu ms of TerminateProcess\n", id_, LivenessMs);
  }
}


std::string ChildProcess::Stdout() {
  EnterCriticalSection(&out_->lock);
  std::string text = out_->text;
  LeaveCriticalSection(&out_->lock);
  return text;
}

std::string ChildProcess::Stderr() {
  EnterCriticalSection(&err_->lock);
  std::string text = err_->text;
  LeaveCriticalSection(&err_->lock);
  return text;
}

ProcessResult RunProcess(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs,
                         const std::vector<std::wstring>& extraEnv) {
  ProcessResult result;
  ChildProcess child;
  if (!child.Start(exe, arguments, extraEnv)) return result;
  result.finished = child.Wait(timeoutMs, &result.exitCode);
  result.out = child.Stdout();
  result.err = child.Stderr();
  return result;
}

bool PortAnswers(unsigned short port) {
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return false;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  closesocket(s);
  return ok;
}

bool WaitForPort(unsigned short port, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!PortAnswers(port)) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

bool WaitForPortClosed(unsigned short port, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (PortAnswers(port)) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

DevService::DevService() = default;

DevService::~DevService() { Stop(); }

bool DevService::Start(const std::wstring& arguments) {
  std::wstring exe = HostPathFromEnv("NORV_LOCAL_SERVICE");
  if (exe.empty()) return false;
  std::wstring args = L"--port 13001 --log \"" + LogPath() + L"\"";
  if (!arguments.empty()) args += L" " + arguments;
  // Another service's answers would pass for this one's.
  if (PortAnswers(13001)) {
    fprintf(stderr, "something already answers on 127.0.0.1:13001\n");
    return false;
  }
  if (!process_.Start(exe, args)) return false;
  // A service that ended (port taken, bad option) will never listen: say why.
  DWORD status = 0;
  bool ended = false;
  if (WaitUntil([&] { return PortAnswers(13001) || (ended = process_.Wait(0, &status)); }, LivenessMs) && !ended) {
    return true;
  }
  if (ended) {
    fprintf(stderr, "local-service ended with status %lu before it listened: %s\n", status,
            process_.Stderr().c_str());
  } else {
    fprintf(stderr, "local-service did not listen on 13001 within %lu ms\n", LivenessMs);
  }
  return false;
}

void DevService::Stop() {
  process_.Kill();
  if (!WaitForPortClosed(13001, LivenessMs))
    fprintf(stderr, "local-service %lu still answers on 13001 after it was stopped (ended: %d)\n", process_.Id(),
            process_.Wait(0, nullptr));
}

std::vector<std::string> DevService::LogLines() const { return Lines(ReadFileText(LogPath())); }

std::vector<std::string> DevService::Requests(const std::string& userAgent) const {
  std::vector<std::string> requests;
  for (const auto& line : LogLines()) {
    if (line.find("\tbody-bytes=") == std::string::npos) continue;  // someone else's line
    if (!userAgent.empty() && line.find("\tUser-Agent: " + userAgent + "\t") == std::string::npos) continue;
    std::string head = line.substr(0, line.find('\t'));
    size_t space = head.find(' ');
    if (space != std::string::npos && head.compare(space + 1, 1, "/") != 0) head.insert(space + 1, "/");
    requests.push_back(head);
  }
  return requests;
}

StdStreamCapture::StdStreamCapture(DWORD which) : which_(which), previous_(GetStdHandle(which)) {
  wchar_t folder[MAX_PATH] = {};
  wchar_t path[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, L"cap", 0, path);
  file_ = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  SetStdHandle(which_, file_);
}

StdStreamCapture::~StdStreamCapture() {
  SetStdHandle(which_, previous_);
  CloseHandle(file_);
}

std::string StdStreamCapture::Text() const {
  std::string text;
  LARGE_INTEGER start = {};
  LARGE_INTEGER end = {};
  SetFilePointerEx(file_, start, &end, FILE_CURRENT);
  SetFilePointerEx(file_, start, nullptr, FILE_BEGIN);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file_, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  SetFilePointerEx(file_, end, nullptr, FILE_BEGIN);
  return text;
}

bool HasPaintedFrame(const std::vector<std::string>& lines) {
  return std::any_of(lines.begin(), lines.end(),
                     [](const std::string& line) { return line.rfind("Frame.painted ", 0) == 0; });
}
