// Helpers for tests that run real programs under Wine: paths handed over by
// CMake, run folders, child processes with captured output, and the
// development local service.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// How long a test waits for what must happen at all: long enough for a slow,
// busy machine, and never a measure of speed.
constexpr DWORD LivenessMs = 60000;

// Waits until the predicate holds, pumping nothing; false on time-out.
template <class Predicate>
bool WaitUntil(Predicate predicate, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!predicate()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// A path on the build host ("/work/...") as Wine sees it ("Z:\work\...").
std::wstring HostPath(const std::string& hostPath);
// HostPath of the environment variable's value; empty when it is not set.
std::wstring HostPathFromEnv(const char* variable);

// A line of the development web view runtime's log says a page frame was
// painted (one paint may take several frames, so any count will do).
bool HasPaintedFrame(const std::vector<std::string>& lines);
// Text split into lines; CR LF and LF both end a line, and no empty last line.
std::vector<std::string> Lines(const std::string& text);
std::string ReadFileText(const std::wstring& path);

// A new empty folder below %TEMP%, removed with its files at the end.
class RunFolder {
 public:
  RunFolder();
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;
  const std::wstring& Path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }
  // Copies a file in under its own name (or newName) and returns the copy's path.
  std::wstring Copy(const std::wstring& source, const std::wstring& newName = L"");

 private:
  std::wstring path_;
};

struct ChildOptions {
  std::wstring workDir;     // ours when empty
  std::wstring stderrFile;  // standard error appended to this file instead of a pipe
  // Standard output and error appended to this file instead of pipes: for a
  // child whose descendants outlive it (a program that starts Wine's desktop
  // process passes our pipes on to it, and Wait would wait for them).
  std::wstring outputFile;
  bool suspended = false;   // the first thread waits for Resume
};

// A child process with standard output and error captured through pipes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // extraEnv entries ("NAME=value") are added to, or replace, our environment.
  bool Start(const std::wstring& exe, const std::wstring& arguments,
             const std::vector<std::wstring>& extraEnv = {}, const ChildOptions& options = {});
  bool Start(const std::wstring& exe, const std::wstring& arguments, const std::vector<std::wstring>& extraEnv,
             const std::wstring& workDir) {
    ChildOptions options;
    options.workDir = workDir;
    return Start(exe, arguments, extraEnv, options);
  }
  void Resume();
  // True when the process ended within the time; exitCode receives its status.
  bool Wait(DWORD milliseconds, DWORD* exitCode = nullptr);
  // Ends the process; read Stdout/Stderr only after Wait, when the pipes are drained.
  void Kill();
  std::string Stdout();
  std::string Stderr();
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_; }

 private:
  // Shared with its drain thread, which may outlive this object while a
  // grandchild still holds the pipe's other end: the last owner frees it.
  struct Pipe {
    HANDLE read = nullptr;
    HANDLE thread = nullptr;
    std::string text;
    CRITICAL_SECTION lock;
    LONG owners = 1;
  };
  static Pipe* NewPipe();
  static void ReleasePipe(Pipe* pipe);
  static DWORD WINAPI Drain(void* pipe);
  HANDLE process_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD id_ = 0;
  Pipe* out_ = NewPipe();
  Pipe* err_ = NewPipe();
  bool started_ = false;
};

struct ProcessResult {
  bool finished = false;
  DWORD exitCode = 0;
  std::string out;
  std::string err;
};
ProcessResult RunProcess(const std::wstring& exe, const std::wstring& arguments,
                         DWORD timeoutMs = LivenessMs, const std::vector<std::wstring>& extraEnv = {});

// Whether something accepts connections on 127.0.0.1:port.
bool PortAnswers(unsigned short port);
bool WaitForPort(unsigned short port, DWORD timeoutMs);
bool WaitForPortClosed(unsigned short port, DWORD timeoutMs);

// The development local service (devkit/local-service) as a child process on
// 13001, its requests logged to a file of its own.
class DevService {
 public:
  DevService();
  ~DevService();
  // arguments are added after --port and --log, e.g. L"--state 1".
  bool Start(const std::wstring& arguments = L"");
  void Stop();
  // One entry per request received: "METHOD /target" (leading slash added
  // when the client sent none), in arrival order.
  // Only those with the user agent, when one is given (the page's own
  // requests come with the browser's).
  std::vector<std::string> Requests(const std::string& userAgent = std::string()) const;
  // Every line of the log file, headers of requests included.
  std::vector<std::string> LogLines() const;
  // Others may append to the file too: the service shares it for writing.
  std::wstring LogPath() const { return folder_.File(L"requests.log"); }

 private:
  RunFolder folder_;
  ChildProcess process_;
};

// Points a standard stream of this process at a temporary file until the end
// of the scope, for code that writes through GetStdHandle.
class StdStreamCapture {
 public:
  explicit StdStreamCapture(DWORD which);
  ~StdStreamCapture();
  StdStreamCapture(const StdStreamCapture&) = delete;
  StdStreamCapture& operator=(const StdStreamCapture&) = delete;
  std::string Text() const;

 private:
  DWORD which_;
  HANDLE previous_;
  HANDLE file_;
};
