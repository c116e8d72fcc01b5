// Development stand-in for the local VPN service; never shipped.
// Serves a small page and the JSON requests the client sends on 127.0.0.1.
#include <winsock2.h>
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include "http_exchange.h"
#include "page_file.h"
#include "request_log.h"
#include "routes.h"

namespace {

constexpr char Usage[] =
    "usage: local-service [--port N] [--state 0|1] [--log FILE] [--no-switch]\n"
    "                     [--reply PATH=STATUS:BODY]... [--page PATH=FILE]...\n";
constexpr DWORD IdleConnectionMs = 5000;

std::string Utf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return "";
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], n, nullptr, nullptr);
  utf8.pop_back();
  return utf8;
}

bool ParseNumber(const wchar_t* text, unsigned long low, unsigned long high, unsigned long* value) {
  wchar_t* end = nullptr;
  if (!*text || *text == L'-' || *text == L'+') return false;
  *value = wcstoul(text, &end, 10);
  return *end == L'\0' && *value >= low && *value <= high;
}

// PATH=STATUS:BODY; BODY may be empty and may itself hold '=' and ':'.
bool ParseScriptedReply(const wchar_t* option, ScriptedReply* reply) {
  std::string text = Utf8(option);
  size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  size_t colon = text.find(':', equals);
  if (colon == std::string::npos) return false;
  std::string status = text.substr(equals + 1, colon - equals - 1);
  if (status.size() != 3 || status.find_first_not_of("0123456789") != std::string::npos) return false;
  reply->status = atoi(status.c_str());
  if (reply->status < 100) return false;
  reply->path = RoutePath(text.substr(0, equals));
  reply->body = text.substr(colon + 1);
  return true;
}

// PATH=FILE; the file is read now, so a test's page cannot change under it.
// False for a malformed option; *error set when only the file let us down.
bool LoadServedPage(const wchar_t* option, ServedPage* page, DWORD* error) {
  const wchar_t* equals = wcschr(option, L'=');
  if (!equals || equals == option || !equals[1]) return false;
  std::wstring path(option, static_cast<size_t>(equals - option));
  page->path = RoutePath(Utf8(path.c_str()));
  return ReadPageFile(equals + 1, &page->body, error);
}

DWORD WINAPI ServeConnection(void* parameter) {
  SOCKET connection = reinterpret_cast<SOCKET>(parameter);
  // A client that connects and sends nothing (a browser's spare
  // connection) must not keep a thread forever.
  DWORD idle = IdleConnectionMs;
  setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&idle), sizeof idle);
  HttpRequest request;
  if (ReadRequest(connection, &request)) {
    HttpReply reply = Route(request);
    LogRequest(request);
    SendReply(connection, reply);
  }
  shutdown(connection, SD_SEND);
  closesocket(connection);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  unsigned long port = 13001;
  const wchar_t* logPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    const wchar_t* option = argv[i];
    const wchar_t* value = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long number = 0;
    ScriptedReply scripted;
    ServedPage page;
    DWORD pageError = ERROR_SUCCESS;
    if (wcscmp(option, L"--no-switch") == 0) {
      PageHasSwitch = false;
      continue;
    }
    bool ok = value != nullptr;
    if (ok && wcscmp(option, L"--port") == 0) {
      ok = ParseNumber(value, 1, 65535, &port);
    } else if (ok && wcscmp(option, L"--state") == 0) {
      ok = ParseNumber(value, 0, 1, &number);
      TunnelOpen = static_cast<LONG>(number);
    } else if (ok && wcscmp(option, L"--log") == 0) {
      logPath = value;
    } else if (ok && wcscmp(option, L"--reply") == 0) {
      ok = ParseScriptedReply(value, &scripted);
      ScriptedReplies.push_back(scripted);
    } else if (ok && wcscmp(option, L"--page") == 0) {
      ok = LoadServedPage(value, &page, &pageError);
      ServedPages.push_back(page);
    } else {
      ok = false;
    }
    if (!ok && pageError != ERROR_SUCCESS) {
      fprintf(stderr, "local-service: cannot read the page file %ls for /%s (error %lu)\n", wcschr(value, L'=') + 1,
              page.path.c_str(), pageError);
      return 2;
    }
    if (!ok) {
      fprintf(stderr, "local-service: bad option %ls\n%s", option, Usage);
      return 2;
    }
    ++i;
  }

  if (!OpenRequestLog(logPath)) {
    fprintf(stderr, "local-service: cannot open the log file %ls\n", logPath);
    return 1;
  }
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, SOMAXCONN) != 0) {
    fprintf(stderr, "local-service: cannot listen on 127.0.0.1:%lu (error %d)\n", port, WSAGetLastError());
    return 1;
  }
  fprintf(stderr, "local-service: development service on http://127.0.0.1:%lu/, tunnel %s\n", port,
          TunnelOpen ? "open" : "closed");
  fflush(stderr);

  // Ctrl+C and termination end the process; there is nothing to save.
  for (;;) {
    SOCKET connection = accept(listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) {
      Sleep(10);
      continue;
    }
    HANDLE thread = CreateThread(nullptr, 0, ServeConnection, reinterpret_cast<void*>(connection), 0, nullptr);
    if (thread)
      CloseHandle(thread);
    else
      ServeConnection(reinterpret_cast<void*>(connection));
  }
}
