// The development service and the winbrand stand-in, checked the way the
// client and the other tests rely on them.
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "support/test_support.h"

namespace {

struct RawReply {
  int status = 0;
  std::vector<std::string> headers;
  std::string body;
  bool Has(const std::string& header) const {
    return std::find(headers.begin(), headers.end(), header) != headers.end();
  }
};

// One request on its own connection, read until the service closes it; the
// Content-Length must match what came.
RawReply Exchange(const std::string& method, const std::string& target, const std::string& extraHeaders = "",
                  const std::string& body = "") {
  static WSADATA winsock;
  static int started = WSAStartup(MAKEWORD(2, 2), &winsock);
  (void)started;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(13001);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string raw;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:13001\r\n" + extraHeaders + "\r\n" + body;
    send(s, request.data(), static_cast<int>(request.size()), 0);
    char buffer[4096];
    int got = 0;
    while ((got = recv(s, buffer, sizeof buffer, 0)) > 0) raw.append(buffer, static_cast<size_t>(got));
  }
  closesocket(s);

  RawReply reply;
  size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) {
    ADD_FAILURE() << method << " " << target << ": no reply header block in \"" << raw << "\"";
    return reply;
  }
  std::vector<std::string> lines = Lines(raw.substr(0, end));
  reply.status = atoi(lines[0].c_str() + 9);
  reply.headers.assign(lines.begin() + 1, lines.end());
  reply.body = raw.substr(end + 4);
  EXPECT_TRUE(reply.Has("Content-Length: " + std::to_string(reply.body.size()))) << raw;
  EXPECT_TRUE(reply.Has("Connection: close"));
  return reply;
}

std::string TunnelStat(const std::string& target = "/api/getTunnelStat") {
  RawReply reply = Exchange("GET", target);
  EXPECT_EQ(200, reply.status);
  return reply.body;
}

// Elements with that id, however the attribute is quoted.
int CountIds(const std::string& html, const std::string& id) {
  int count = 0;
  for (const std::string& form : {"id=\"" + id + "\"", "id='" + id + "'", "id=" + id + " ", "id=" + id + ">"})
    for (size_t at = html.find(form); at != std::string::npos; at = html.find(form, at + 1)) ++count;
  return count;
}

// The whole start tag around the first occurrence of text.
std::string TagAround(const std::string& html, const std::string& text) {
  size_t at = html.find(text);
  if (at == std::string::npos) return "";
  size_t open = html.rfind('<', at);
  size_t close = html.find('>', at);
  return html.substr(open, close - open + 1);
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(bytes.size(), written);
}

}  // namespace

TEST(DevService, ConnectAndDisconnectToggleTheTunnel) {
  DevService service;
  ASSERT_TRUE(service.Start());
  EXPECT_EQ("{\"status\":0}", TunnelStat());
  EXPECT_EQ(200, Exchange("PUT", "api/connectLocation").status);
  EXPECT_EQ("{\"status\":1}", TunnelStat("api/getTunnelStat"));
  EXPECT_EQ("{\"status\":1}", TunnelStat("/api/getTunnelStat?nocache=1"));
  EXPECT_EQ(404, Exchange("GET", "/api/disconnectLocation").status);  // only PUT changes state
  EXPECT_EQ("{\"status\":1}", TunnelStat());
  EXPECT_EQ(200, Exchange("PUT", "/api/disconnectLocation").status);
  EXPECT_EQ("{\"status\":0}", TunnelStat());

  std::vector<std::string> expected = {
      "GET /api/getTunnelStat",          "PUT /api/connectLocation", "GET /api/getTunnelStat",
      "GET /api/getTunnelStat?nocache=1", "GET /api/disconnectLocation", "GET /api/getTunnelStat",
      "PUT /api/disconnectLocation",      "GET /api/getTunnelStat"};
  EXPECT_EQ(expected, service.Requests());

  service.Stop();
  DevService open;
  ASSERT_TRUE(open.Start(L"--state 1"));
  EXPECT_EQ("{\"status\":1}", TunnelStat());
}

TEST(DevService, LogsEachRequestOnOneLineInFileAndOnStandardOutput) {
  RunFolder folder;
  ChildProcess service;
  ASSERT_TRUE(service.Start(HostPathFromEnv("NORV_LOCAL_SERVICE"),
                            L"--port 13001 --log \"" + folder.File(L"requests.log") + L"\""));
  ASSERT_TRUE(WaitForPort(13001, LivenessMs));  // a bare connection: no line

  RawReply brand = Exchange("PUT", "/api/brandByUser/Windows%2011%20Pro%20%E4%B8%AD",
                            "Accept: application/json\r\nX-Probe:  two\twords \r\nContent-Length: 5\r\n", "hello");
  EXPECT_EQ(200, brand.status);
  EXPECT_NE(std::string::npos, brand.body.find("\"brand\":\"Windows 11 Pro \xE4\xB8\xAD\"")) << brand.body;
  // Read while the service still runs: each line is in the file before the reply.
  std::vector<std::string> lines = Lines(ReadFileText(folder.File(L"requests.log")));
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("PUT /api/brandByUser/Windows%2011%20Pro%20%E4%B8%AD\tHost: 127.0.0.1:13001\tAccept: application/json"
            "\tX-Probe: two words\tContent-Length: 5\tbody-bytes=5",
            lines[0]);

  EXPECT_EQ(200, Exchange("PUT", "api/closeByUser/1").status);
  lines = Lines(ReadFileText(folder.File(L"requests.log")));
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("PUT api/closeByUser/1\tHost: 127.0.0.1:13001\tbody-bytes=0", lines[1]);

  service.Kill();
  service.Wait(LivenessMs);  // lets the output pipe drain
  EXPECT_EQ(lines, Lines(service.Stdout()));
}

TEST(DevService, BuiltInPageHasOneSwitchCheckboxUnlessToldNot) {
  DevService service;
  ASSERT_TRUE(service.Start());
  RawReply page = Exchange("GET", "/");
  EXPECT_EQ(200, page.status);
  EXPECT_TRUE(page.Has("Content-Type: text/html; charset=utf-8"));
  EXPECT_EQ(1, CountIds(page.body, "vpn_switch"));
  std::string tag = TagAround(page.body, "id=\"vpn_switch\"");
  EXPECT_EQ(0u, tag.find("<input ")) << tag;
  EXPECT_NE(std::string::npos, tag.find(" type=\"checkbox\"")) << tag;
  EXPECT_NE(std::string::npos, page.body.find("/api/connectLocation"));
  EXPECT_NE(std::string::npos, page.body.find("/api/disconnectLocation"));
  EXPECT_NE(std::string::npos, page.body.find("/api/getTunnelStat"));
  service.Stop();

  DevService bare;
  ASSERT_TRUE(bare.Start(L"--no-switch"));
  page = Exchange("GET", "/?from=test");
  EXPECT_EQ(200, page.status);
  EXPECT_EQ(0, CountIds(page.body, "vpn_switch"));
  EXPECT_NE(std::string::npos, page.body.find("NorvVPN"));
}

TEST(DevService, PagesFromFilesAreServedAsReadAtStart) {
  RunFolder folder;
  const std::string start = std::string("<!DOCTYPE html>\r\n<p>Start \xE4\xB8\xAD</p>") + '\0' + "<p>after a NUL</p>\n";
  const std::wstring startFile = folder.File(L"start \u4E2D.html");
  WriteBytes(startFile, start);
  WriteBytes(folder.File(L"next-1.html"), "<p>first next</p>");
  WriteBytes(folder.File(L"next-2.html"), "<p>second next</p>");
  WriteBytes(folder.File(L"empty.html"), "");

  DevService service;
  ASSERT_TRUE(service.Start(L"--page \"/=" + startFile + L"\" --page /next=\"" + folder.File(L"next-1.html") +
                            L"\" --page next=\"" + folder.File(L"next-2.html") + L"\" --page /empty=\"" +
                            folder.File(L"empty.html") + L"\""));
  // Changing or removing the files now changes nothing that is served.
  WriteBytes(startFile, "<p>changed</p>");
  DeleteFileW(folder.File(L"next-2.html").c_str());

  RawReply page = Exchange("GET", "/");
  EXPECT_EQ(200, page.status);
  EXPECT_TRUE(page.Has("Content-Type: text/html; charset=utf-8"));
  EXPECT_EQ(start, page.body);
  page = Exchange("GET", "/next?step=2");
  EXPECT_EQ(200, page.status);
  EXPECT_EQ("<p>second next</p>", page.body);  // the later option for the same path
  page = Exchange("GET", "/empty");
  EXPECT_EQ(200, page.status);
  EXPECT_TRUE(page.Has("Content-Type: text/html; charset=utf-8"));
  EXPECT_EQ("", page.body);

  EXPECT_EQ(404, Exchange("GET", "/nowhere").status);
  EXPECT_EQ("{\"status\":0}", TunnelStat());
  EXPECT_EQ(200, Exchange("PUT", "/api/connectLocation").status);
  EXPECT_EQ("{\"status\":1}", TunnelStat());
}

TEST(DevService, PageFileThatCannotBeReadEndsTheStartWith2) {
  RunFolder folder;
  std::wstring exe = HostPathFromEnv("NORV_LOCAL_SERVICE");
  const std::wstring missing = folder.File(L"missing.html");
  for (const std::wstring& file : {missing, folder.Path()}) {
    ProcessResult result = RunProcess(exe, L"--port 13001 --page \"/next=" + file + L"\"", 10000);
    ASSERT_TRUE(result.finished) << Narrow(file);
    EXPECT_EQ(2u, result.exitCode) << Narrow(file);
    EXPECT_NE(std::string::npos, result.err.find("cannot read the page file " + Narrow(file) + " for /next"))
        << result.err;
  }
  EXPECT_FALSE(PortAnswers(13001));
}

TEST(DevService, ScriptedRepliesReplaceTheRoutes) {
  DevService service;
  ASSERT_TRUE(service.Start(
      L"--reply api/getTunnelStat=500:oops --reply \"api/closeByUser/1=200:[1, 2]\" "
      L"--reply api/disconnectLocation=200: --reply /api/new=201:a=b:c"));
  RawReply reply = Exchange("GET", "/api/getTunnelStat");
  EXPECT_EQ(500, reply.status);
  EXPECT_EQ("oops", reply.body);
  EXPECT_EQ(500, Exchange("GET", "api/getTunnelStat?x").status);
  reply = Exchange("PUT", "/api/closeByUser/1");
  EXPECT_EQ(200, reply.status);
  EXPECT_EQ("[1, 2]", reply.body);
  reply = Exchange("PUT", "/api/disconnectLocation");
  EXPECT_EQ(200, reply.status);
  EXPECT_EQ("", reply.body);
  reply = Exchange("POST", "/api/new");
  EXPECT_EQ(201, reply.status);
  EXPECT_EQ("a=b:c", reply.body);
  reply = Exchange("GET", "/api/unknown");
  EXPECT_EQ(404, reply.status);
  EXPECT_EQ('{', reply.body[0]);
}

TEST(DevService, BadOptionsPrintUsageAndExitWith2) {
  std::wstring exe = HostPathFromEnv("NORV_LOCAL_SERVICE");
  for (const wchar_t* arguments : {L"--state 2", L"--port", L"--port 0", L"--port 70000", L"--reply api/x",
                                   L"--reply api/x=abc:body", L"--page /x", L"--page /x=", L"--page =x.html",
                                   L"--bogus"}) {
    ProcessResult result = RunProcess(exe, arguments, LivenessMs);
    ASSERT_TRUE(result.finished) << Narrow(arguments);
    EXPECT_EQ(2u, result.exitCode) << Narrow(arguments);
    EXPECT_NE(std::string::npos, result.err.find("usage: local-service")) << Narrow(arguments);
  }
}

// The client waits 1 ms for body bytes after the headers: that only works
// when the whole reply arrives in one piece.
TEST(DevService, ClientWithOneMillisecondReceiveTimeoutGetsWholeReplies) {
  DevService service;
  ASSERT_TRUE(service.Start());
  HINTERNET session = WinHttpOpen(L"NorvVpn Windows", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, 0);
  ASSERT_NE(nullptr, session);
  WinHttpSetTimeouts(session, 5000, 5000, 5000, 1);
  int whole = 0;
  const int rounds = 20;
  for (int i = 0; i < rounds; ++i) {
    const wchar_t* path = i % 2 ? L"" : L"api/getTunnelStat";
    HINTERNET connection = WinHttpConnect(session, L"127.0.0.1", 13001, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_REFRESH);
    std::string body;
    DWORD available = 0, read = 0;
    if (WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr)) {
      while (WinHttpQueryDataAvailable(request, &available) && available > 0) {
        std::string chunk(available, '\0');
        if (!WinHttpReadData(request, &chunk[0], available, &read)) break;
        body.append(chunk, 0, read);
      }
    }
    bool complete = i % 2 ? body.find("</html>") != std::string::npos : body == "{\"status\":0}";
    if (complete) ++whole;
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
  }
  WinHttpCloseHandle(session);
  EXPECT_EQ(rounds, whole);
}

TEST(WinbrandStandin, ReplacesTheEditionTokenOrReturnsNull) {
  HMODULE module = LoadLibraryW(HostPathFromEnv("NORV_WINBRAND_DLL").c_str());
  ASSERT_NE(nullptr, module);
  using FormatFn = wchar_t*(WINAPI*)(const wchar_t*);
  auto format = reinterpret_cast<FormatFn>(reinterpret_cast<void*>(GetProcAddress(module, "BrandingFormatString")));
  ASSERT_NE(nullptr, format);
  auto brand = [format](const wchar_t* text) {
    wchar_t* result = format(text);
    std::wstring copy = result ? result : L"(null)";
    LocalFree(result);
    return copy;
  };

  SetEnvironmentVariableW(L"NORV_BRAND_NAME", nullptr);
  SetEnvironmentVariableW(L"NORV_BRAND_NULL", nullptr);
  EXPECT_EQ(L"Windows 11 Pro", brand(L"%WINDOWS_LONG%"));
  EXPECT_EQ(L"[Windows 11 Pro|Windows 11 Pro] %WINDOWS%", brand(L"[%WINDOWS_LONG%|%WINDOWS_LONG%] %WINDOWS%"));

  const std::wstring chinese = L"Windows 10 \u5BB6\u5EAD\u4E2D\u6587\u7248";
  SetEnvironmentVariableW(L"NORV_BRAND_NAME", chinese.c_str());
  EXPECT_EQ(chinese, brand(L"%WINDOWS_LONG%"));
  const std::wstring longName(3000, L'x');
  SetEnvironmentVariableW(L"NORV_BRAND_NAME", longName.c_str());
  EXPECT_EQ(longName + L".", brand(L"%WINDOWS_LONG%."));

  SetEnvironmentVariableW(L"NORV_BRAND_NULL", L"1");
  EXPECT_EQ(nullptr, format(L"%WINDOWS_LONG%"));
  SetEnvironmentVariableW(L"NORV_BRAND_NULL", L"0");
  EXPECT_EQ(longName, brand(L"%WINDOWS_LONG%"));

  SetEnvironmentVariableW(L"NORV_BRAND_NAME", nullptr);
  SetEnvironmentVariableW(L"NORV_BRAND_NULL", nullptr);
  FreeLibrary(module);
}
