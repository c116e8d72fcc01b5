// Starts programs alternately under Wine and prints the median of each one's
// timings, one line per measure, for benchmarks/run.sh to turn into ratios.
//
//   bench-driver exit RUNS PROGRAM...
//       time from CreateProcess to the end of the process
//   bench-driver window RUNS SETTLE_MS PROGRAM...
//       time to the process's first visible top-level window (300 px wide or
//       more); with FRAME set to "frame" also to the first "Frame.painted"
//       line the web view runtime writes to NORV_WEBVIEW_LOG; then, SETTLE_MS
//       later, the working set; then the process is ended
//
// PROGRAM is LABEL|EXE|ARGUMENTS[|FRAME]. Output lines:
//   <measure> <label> <median> <sample> <sample> ...
// with times in ms and working sets in KiB. Every round starts with the next
// program in turn, so none always runs right after the same other one.
#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD ExitTimeoutMs = 300000;
constexpr DWORD VisibleTimeoutMs = 30000;
constexpr DWORD FrameTimeoutMs = 60000;
// Wine and the X server tidy up after an ended process for a while; the
// next start must not pay for that.
constexpr DWORD PauseBetweenRunsMs = 500;

struct Program {
  std::wstring label;
  std::wstring exe;
  std::wstring arguments;
  bool frame = false;
  std::vector<double> exitMs, visibleMs, frameMs, workingSetKiB;
};

bool ParseProgram(const wchar_t* description, Program* program) {
  std::vector<std::wstring> fields;
  std::wstring text = description;
  size_t start = 0;
  for (;;) {
    size_t bar = text.find(L'|', start);
    fields.push_back(text.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start));
    if (bar == std::wstring::npos) break;
    start = bar + 1;
  }
  if (fields.size() < 3 || fields.size() > 4 || fields[0].empty() || fields[1].empty()) return false;
  program->label = fields[0];
  program->exe = fields[1];
  program->arguments = fields[2];
  program->frame = fields.size() == 4 && fields[3] == L"frame";
  return true;
}

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Standard streams go to NUL: the programs' output costs what writing to a
// discarded stream costs, and nobody has to drain a pipe.
HANDLE NullDevice() {
  static HANDLE device = [] {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
  }();
  return device;
}

// The program's folder is its working folder, so DLLs beside it are found
// first whatever the search order.
bool Start(const Program& program, PROCESS_INFORMATION* info) {
  std::wstring commandLine = L"\"" + program.exe + L"\"";
  if (!program.arguments.empty()) commandLine += L" " + program.arguments;
  std::wstring folder = program.exe.substr(0, program.exe.find_last_of(L"\\/"));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = NullDevice();
  startup.hStdOutput = NullDevice();
  startup.hStdError = NullDevice();
  *info = {};
  if (!CreateProcessW(program.exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                      &startup, info)) {
    fwprintf(stderr, L"cannot start %ls (error %lu)\n", program.exe.c_str(), GetLastError());
    return false;
  }
  CloseHandle(info->hThread);
  return true;
}

void End(PROCESS_INFORMATION* info) {
  if (WaitForSingleObject(info->hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(info->hProcess, 99);
    WaitForSingleObject(info->hProcess, 10000);
  }
  CloseHandle(info->hProcess);
}

bool TimeExit(Program* program) {
  PROCESS_INFORMATION info;
  double start = NowMs();
  if (!Start(*program, &info)) return false;
  bool ended = WaitForSingleObject(info.hProcess, ExitTimeoutMs) == WAIT_OBJECT_0;
  double end = NowMs();
  End(&info);
  if (!ended) {
    fwprintf(stderr, L"%ls did not end\n", program->label.c_str());
    return false;
  }
  program->exitMs.push_back(end - start);
  return true;
}

struct Search {
  DWORD processId;
  bool found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  RECT rect;
  if (owner == search->processId && IsWindowVisible(window) && GetWindowRect(window, &rect) &&
      rect.right - rect.left >= 300) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

bool LogHasFrame(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text.find("Frame.painted ") != std::string::npos;
}

std::wstring FrameLogPath() {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  wchar_t path[MAX_PATH + 64] = {};
  _snwprintf(path, MAX_PATH + 63, L"%lsnorv-bench-webview-%lu.log", folder, GetCurrentProcessId());
  return path;
}

bool TimeWindow(Program* program, DWORD settleMs) {
  const std::wstring logPath = FrameLogPath();
  DeleteFileW(logPath.c_str());
  // The child inherits our environment; only frame runs get a log.
  SetEnvironmentVariableW(L"NORV_WEBVIEW_LOG", program->frame ? logPath.c_str() : nullptr);
  PROCESS_INFORMATION info;
  double start = NowMs();
  if (!Start(*program, &info)) return false;
  Search search = {info.dwProcessId, false};
  while (!search.found && NowMs() - start < VisibleTimeoutMs) {
    EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    if (!search.found) Sleep(1);
  }
  double visible = NowMs();
  bool painted = false;
  while (search.found && program->frame && !painted && NowMs() - start < FrameTimeoutMs) {
    painted = LogHasFrame(logPath);
    if (!painted) Sleep(1);
  }
  double frame = NowMs();
  if (search.found) Sleep(settleMs);
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  bool measured = GetProcessMemoryInfo(info.hProcess, &counters, sizeof counters);
  End(&info);
  SetEnvironmentVariableW(L"NORV_WEBVIEW_LOG", nullptr);
  DeleteFileW(logPath.c_str());
  if (!search.found) {
    fwprintf(stderr, L"%ls showed no window\n", program->label.c_str());
    return false;
  }
  if (program->frame && !painted) {
    fwprintf(stderr, L"%ls painted no page frame\n", program->label.c_str());
    return false;
  }
  program->visibleMs.push_back(visible - start);
  if (program->frame) program->frameMs.push_back(frame - start);
  if (measured) program->workingSetKiB.push_back(static_cast<double>(counters.WorkingSetSize) / 1024.0);
  return true;
}

void PrintMeasure(const wchar_t* measure, const Program& program, std::vector<double> samples) {
  if (samples.empty()) return;
  std::vector<double> sorted = samples;
  std::sort(sorted.begin(), sorted.end());
  size_t n = sorted.size();
  double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
  wprintf(L"%ls %ls %.1f", measure, program.label.c_str(), median);
  for (double sample : samples) wprintf(L" %.1f", sample);
  wprintf(L"\n");
}

int Usage() {
  fwprintf(stderr, L"usage: bench-driver exit RUNS PROGRAM... | window RUNS SETTLE_MS PROGRAM...\n"
                   L"  PROGRAM: LABEL|EXE|ARGUMENTS[|frame]\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return Usage();
  const bool window = wcscmp(argv[1], L"window") == 0;
  if (!window && wcscmp(argv[1], L"exit") != 0) return Usage();
  const int runs = _wtoi(argv[2]);
  const int firstProgram = window ? 4 : 3;
  const DWORD settleMs = window ? static_cast<DWORD>(_wtoi(argv[3])) : 0;
  if (runs < 1 || argc <= firstProgram) return Usage();

  std::vector<Program> programs(static_cast<size_t>(argc - firstProgram));
  for (size_t i = 0; i < programs.size(); ++i)
    if (!ParseProgram(argv[firstProgram + static_cast<int>(i)], &programs[i])) return Usage();

  for (int round = 0; round < runs; ++round) {
    for (size_t k = 0; k < programs.size(); ++k) {
      Program& program = programs[(static_cast<size_t>(round) + k) % programs.size()];
      if (!(window ? TimeWindow(&program, settleMs) : TimeExit(&program))) return 1;
      Sleep(PauseBetweenRunsMs);
    }
  }
  for (const Program& program : programs) {
    PrintMeasure(L"exit", program, program.exitMs);
    PrintMeasure(L"visible", program, program.visibleMs);
    PrintMeasure(L"frame", program, program.frameMs);
    PrintMeasure(L"workingset", program, program.workingSetKiB);
  }
  fflush(stdout);
  return 0;
}
