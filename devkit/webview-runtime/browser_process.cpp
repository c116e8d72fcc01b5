#include "browser_process.h"
#include <winsock2.h>
#include <cwchar>
#include <string>
#include <vector>
#include "call_log.h"

namespace {

constexpr wchar_t BrowserVariable[] = L"NORV_WEBVIEW_BROWSER";
constexpr wchar_t StartTimeoutVariable[] = L"NORV_WEBVIEW_START_TIMEOUT_MS";
constexpr wchar_t DefaultBrowser[] = L"/usr/bin/chromium";
constexpr wchar_t Shell[] = L"/bin/bash";
constexpr DWORD DefaultStartTimeoutMs = 30000;
constexpr DWORD PollMs = 25;
constexpr DWORD WatchdogConnectMs = 10000;
constexpr wchar_t ExitFile[] = L"\\norv-browser.exit";

// argv: $1 the profile folder, $2 this start's tag, $3 the port of the
// lifeline, then the browser's own command line.
// The watchdog connects the lifeline and names itself by the tag, waits for an
// earlier browser on the same profile to finish closing (a client started
// right after another one ended), runs the browser in a session of its own,
// and stops that whole session once the lifeline reaches end-of-file. Once no
// process of the session runs any more (zombies aside, which nobody may reap
// soon), the browser's exit status goes to norv-browser.exit after the tag (an
// earlier watchdog may still be writing its own there); its Linux process id
// is in norv-browser.pid. The watchdog connects rather than inheriting a
// socket: Wine 10 gives a Linux child of a program without a console
// /dev/null for its standard input, whatever handle it is passed.
constexpr wchar_t WatchdogScript[] =
    L"PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin\n"
    L"dir=$1; tag=$2; port=$3; shift 3\n"
    L"exec 3<>\"/dev/tcp/127.0.0.1/$port\" || { echo \"$tag 255\" >\"$dir/norv-browser.exit\"; exit 1; }\n"
    L"echo \"$tag\" >&3\n"
    L"session_runs() {\n"
    L"  local stat line\n"
    L"  for stat in /proc/[0-9]*/stat; do\n"
    L"    read -r line 2>/dev/null <\"$stat\" || continue\n"
    L"    set -- ${line##*) }\n"
    L"    [ \"$1\" != Z ] && [ \"$4\" = \"$browser\" ] && return 0\n"
    L"  done\n"
    L"  return 1\n"
    L"}\n"
    L"if lock=$(readlink \"$dir/SingletonLock\" 2>/dev/null); then\n"
    L"  old=${lock##*-}\n"
    L"  for _ in $(seq 50); do kill -0 \"$old\" 2>/dev/null || break; sleep 0.1; done\n"
    L"fi\n"
    L"setsid \"$@\" >\"$dir/norv-browser.log\" 2>&1 </dev/null 3<&- &\n"
    L"browser=$!\n"
    L"echo \"$browser\" >\"$dir/norv-browser.pid\"\n"
    L"while kill -0 \"$browser\" 2>/dev/null; do\n"
    L"  read -r -t 0.1 -u 3 _; [ $? -gt 128 ] || break\n"
    L"done\n"
    L"kill -TERM -- \"-$browser\" 2>/dev/null\n"
    L"for _ in $(seq 30); do kill -0 \"$browser\" 2>/dev/null || break; sleep 0.1; done\n"
    L"kill -KILL -- \"-$browser\" 2>/dev/null\n"
    L"wait \"$browser\"; status=$?\n"
    L"for _ in $(seq 200); do session_runs || break; sleep 0.05; done\n"
    L"echo \"$tag $status\" >\"$dir/norv-browser.exit\"\n";

volatile SOCKET Lifeline = INVALID_SOCKET;  // our end; the watchdog reads the other

std::wstring Variable(const wchar_t* name) {
  wchar_t value[2 * MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(name, value, 2 * MAX_PATH);
  return length > 0 && length < 2 * MAX_PATH ? std::wstring(value) : std::wstring();
}

std::wstring WindowsPathOf(const std::wstring& linuxPath) {
  using ToDos = WCHAR*(CDECL*)(const char*);
  static auto toDos = reinterpret_cast<ToDos>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (!toDos) return std::wstring();
  WCHAR* dos = toDos(Utf8(linuxPath).c_str());
  if (!dos) return std::wstring();
  std::wstring path = dos;
  HeapFree(GetProcessHeap(), 0, dos);
  return path;
}

// The Windows rules for one argument of a command line, which Wine also
// applies when it splits the line into a Linux program's argv.
std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < argument.size() && argument[i] == L'\\') {
      ++i;
      ++backslashes;
    }
    if (i == argument.size()) {
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    if (argument[i] == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted += argument[i];
  }
  return quoted + L"\"";
}

std::string ReadSmallFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  char buffer[1024] = {};
  DWORD got = 0;
  ReadFile(file, buffer, sizeof buffer - 1, &got, nullptr);
  CloseHandle(file);
  return std::string(buffer, got);
}

// The UI language as the browser takes it, e.g. "zh-CN".
std::wstring LanguageTag() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  if (LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) <= 1)
    return L"en-US";
  return name;
}

// A loopback socket the watchdog connects to; *port is where.
SOCKET ListenForWatchdog(int* port) {
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return INVALID_SOCKET;
  SOCKET listener = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (listener != INVALID_SOCKET && bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      listen(listener, 4) == 0 && getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    *port = ntohs(address.sin_port);
    return listener;
  }
  if (listener != INVALID_SOCKET) closesocket(listener);
  return INVALID_SOCKET;
}

// The watchdog's connection: the first within the bound that names `tag`;
// anything else that connects is turned away.
SOCKET AcceptWatchdog(SOCKET listener, const std::string& tag) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < WatchdogConnectMs) {
    fd_set waiting;
    FD_ZERO(&waiting);
    FD_SET(listener, &waiting);
    timeval wait = {0, static_cast<long>(PollMs) * 1000};
    if (select(0, &waiting, nullptr, nullptr, &wait) != 1) continue;
    SOCKET connection = accept(listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) continue;
    // The tag comes right after the connection.
    DWORD boundMs = 5000;
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&boundMs), sizeof boundMs);
    std::string line;
    char c = 0;
    while (line.size() <= tag.size() && recv(connection, &c, 1, 0) == 1 && c != '\n') line += c;
    if (line == tag) return connection;
    closesocket(connection);
  }
  return INVALID_SOCKET;
}

bool StartWatchdog(const std::wstring& program, const std::wstring& profile, const std::wstring& tag, int port) {
  const std::vector<std::wstring> browserArguments = {
      program,
      L"--headless",
      // As root the browser refuses its sandbox; a development runtime runs without.
      L"--no-sandbox",
      L"--disable-gpu",
      L"--disable-quic",
      L"--no-first-run",
      L"--no-default-browser-check",
      L"--disable-background-networking",
      L"--disable-component-update",
      L"--disable-sync",
      L"--disable-popup-blocking",
      // Also switches off the automatic reload of network error pages.
      L"--enable-automation",
      L"--mute-audio",
      L"--lang=" + LanguageTag(),
      L"--accept-lang=" + LanguageTag(),
      L"--user-data-dir=" + profile,
      L"--remote-debugging-address=127.0.0.1",
      L"--remote-debugging-port=0",
      L"about:blank",
  };
  std::wstring commandLine = QuoteArgument(Shell) + L" -c " + QuoteArgument(WatchdogScript) + L" norv-webview " +
                             QuoteArgument(profile) + L" " + tag + L" " + std::to_wstring(port);
  for (const auto& argument : browserArguments) commandLine += L" " + QuoteArgument(argument);
  std::wstring shell = WindowsPathOf(Shell);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(shell.c_str(), &commandLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                      &startup, &info))
    return false;
  // Wine hands no usable handles out for a Linux child.
  if (info.hThread) CloseHandle(info.hThread);
  if (info.hProcess) CloseHandle(info.hProcess);
  return true;
}

bool ParseActivePort(const std::string& text, BrowserProcess* started) {
  size_t end = text.find('\n');
  if (end == std::string::npos) return false;
  int port = atoi(text.substr(0, end).c_str());
  std::string path = text.substr(end + 1);
  while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
  if (port <= 0 || port > 65535 || path.compare(0, 10, "/devtools/") != 0) return false;
  started->port = port;
  started->devToolsPath = Wide(path);
  return true;
}

}  // namespace

std::wstring LinuxPathOf(const std::wstring& windowsPath) {
  using ToUnix = char*(CDECL*)(const WCHAR*);
  static auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return std::wstring();
  char* unix = toUnix(windowsPath.c_str());
  if (!unix) return std::wstring();
  std::wstring path = Wide(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

std::wstring FindBrowserProgram() {
  std::wstring program = Variable(BrowserVariable);
  if (program.empty()) program = DefaultBrowser;
  std::wstring windowsPath = WindowsPathOf(program);
  std::wstring shell = WindowsPathOf(Shell);
  if (windowsPath.empty() || shell.empty()) return std::wstring();
  const DWORD attributes = GetFileAttributesW(windowsPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::wstring();
  if (GetFileAttributesW(shell.c_str()) == INVALID_FILE_ATTRIBUTES) return std::wstring();
  return program;
}

bool LaunchBrowser(const std::wstring& program, const std::wstring& profileFolder, BrowserProcess* started) {
  const std::wstring profile = LinuxPathOf(profileFolder);
  if (profile.empty()) return false;
  const std::wstring activePort = profileFolder + L"\\DevToolsActivePort";
  // What an earlier browser left must not pass for this one.
  DeleteFileW(activePort.c_str());
  DeleteFileW((profileFolder + ExitFile).c_str());

  int port = 0;
  const SOCKET listener = ListenForWatchdog(&port);
  if (listener == INVALID_SOCKET) {
    Log(L"Browser.failed no lifeline socket");
    return false;
  }
  const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(GetTickCount64());
  const bool running = StartWatchdog(program, profile, tag, port);
  // Before the browser's own bound: the watchdog starts the browser only once
  // it holds the lifeline.
  Lifeline = running ? AcceptWatchdog(listener, Utf8(tag)) : INVALID_SOCKET;
  closesocket(listener);
  if (Lifeline == INVALID_SOCKET) {
    Log(L"Browser.failed cannot start " + std::wstring(Shell) + (running ? L": no lifeline" : L""));
    return false;
  }

  std::wstring bound = Variable(StartTimeoutVariable);
  const DWORD timeoutMs = bound.empty() ? DefaultStartTimeoutMs : wcstoul(bound.c_str(), nullptr, 10);
  const DWORD start = GetTickCount();
  for (;;) {
    if (ParseActivePort(ReadSmallFile(activePort), started)) break;
    std::string status;
    if (ReadBrowserExit(profileFolder, tag, &status)) {
      Log(L"Browser.exited during start, status " + Wide(status));
      ReleaseBrowserLifeline();
      return false;
    }
    if (GetTickCount() - start >= timeoutMs) {
      Log(L"Browser.failed not started within " + std::to_wstring(timeoutMs) + L" ms");
      ReleaseBrowserLifeline();
      return false;
    }
    Sleep(PollMs);
  }
  started->tag = tag;
  started->linuxPid = strtoul(ReadSmallFile(profileFolder + L"\\norv-browser.pid").c_str(), nullptr, 10);
  Log(L"Browser.started pid=" + std::to_wstring(started->linuxPid) + L" port=" + std::to_wstring(started->port) +
      L" profile=" + profile);
  return true;
}

bool ReadBrowserExit(const std::wstring& profileFolder, const std::wstring& tag, std::string* status) {
  std::string text = ReadSmallFile(profileFolder + ExitFile);
  const std::string ours = Utf8(tag) + " ";
  if (tag.empty() || text.compare(0, ours.size(), ours) != 0) return false;
  text.erase(0, ours.size());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  *status = text;
  return true;
}

void ReleaseBrowserLifeline() {
  // Called from the UI thread and from the connection's reader: closed once.
  const SOCKET ours = static_cast<SOCKET>(
      InterlockedExchange64(reinterpret_cast<volatile LONG64*>(&Lifeline), static_cast<LONG64>(INVALID_SOCKET)));
  if (ours != INVALID_SOCKET) closesocket(ours);
}

UINT_PTR CurrentBrowserLifeline() { return static_cast<UINT_PTR>(Lifeline); }

void ReleaseBrowserLifeline(UINT_PTR lifeline) {
  const SOCKET ours = static_cast<SOCKET>(lifeline);
  if (ours == INVALID_SOCKET) return;
  if (static_cast<SOCKET>(InterlockedCompareExchange64(reinterpret_cast<volatile LONG64*>(&Lifeline),
                                                       static_cast<LONG64>(INVALID_SOCKET),
                                                       static_cast<LONG64>(ours))) == ours)
    closesocket(ours);
}
