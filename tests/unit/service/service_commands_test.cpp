#include <gtest/gtest.h>
#include <string>
#include "support/scripted_server.h"
#include "service/service_commands.h"
#include "support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

TEST(CloseTunnel, ClosedTunnelIsOnlyAsked) {
  ScriptedServer server;
  server.Add(Reply(200, "{\"status\":0}"));
  StdStreamCapture out(STD_OUTPUT_HANDLE);
  CloseTunnel();
  EXPECT_EQ(out.Text(), "");
  EXPECT_EQ(RequestLines(server), Lines{"GET /api/getTunnelStat"});
}

TEST(CloseTunnel, OpenTunnelIsDisconnectedAndTheReplyPrinted) {
  const std::string reply = "{\"message\":\"100% done, %s %d %n\"}";
  for (const char* state : {"{\"status\":1}", "{\"status\":\"0\"}", "{}"}) {
    SCOPED_TRACE(state);
    ScriptedServer server;
    server.Add(Reply(200, state));
    server.Add(Reply(201, reply));
    StdStreamCapture out(STD_OUTPUT_HANDLE);
    CloseTunnel();
    EXPECT_EQ(out.Text(), "close tunnel" + reply);
    EXPECT_EQ(RequestLines(server), (Lines{"GET /api/getTunnelStat", "PUT /api/disconnectLocation"}));
  }
}

TEST(CloseTunnel, NoUsableStateSendsNothingMore) {
  ScriptedServer server;
  server.Add(Reply(404, "{\"status\":1}"));
  server.Add(Reply(200, ""));
  server.Add(Reply(200, "[1]"));
  server.Add(Reply(200, "not json"));
  StdStreamCapture out(STD_OUTPUT_HANDLE);
  for (int i = 0; i < 4; ++i) CloseTunnel();
  EXPECT_EQ(out.Text(), "");
  EXPECT_EQ(RequestLines(server), Lines(4, "GET /api/getTunnelStat"));
}

TEST(CloseTunnel, ServiceDownIsSilent) {
  StdStreamCapture out(STD_OUTPUT_HANDLE);
  CloseTunnel();
  EXPECT_EQ(out.Text(), "");
}

TEST(CloseTunnel, FailedDisconnectPrintsOnlyTheTrace) {
  ScriptedServer server;
  server.Add(Reply(200, "{\"status\":1}"));
  server.Add(Reply(500, "{\"error\":\"busy\"}"));
  server.Add(Reply(200, "{\"status\":1}"));
  server.Add(Reply(200, ""));
  server.Add(Reply(200, "{\"status\":1}"));
  server.Add({});  // closed unanswered
  server.Add(Reply(200, "{\"status\":1}"));
  server.Add(HeaderBlockDribbled());  // given up after a few seconds
  StdStreamCapture out(STD_OUTPUT_HANDLE);
  for (int i = 0; i < 4; ++i) CloseTunnel();
  EXPECT_EQ(out.Text(), "close tunnelclose tunnelclose tunnelclose tunnel");
  EXPECT_EQ(server.Requests().size(), 8u);
}

std::string BrandTarget(const wchar_t* name) {
  ScriptedServer server;
  server.Add(Reply(200, "{}"));
  ReportWindowsBrand(name);
  auto requests = server.Requests();
  if (requests.size() != 1) return "<" + std::to_string(requests.size()) + " requests>";
  ParsedRequest request = ParseRequest(requests[0]);
  EXPECT_EQ(request.method, "PUT");
  EXPECT_EQ(request.body, "");
  return request.target;
}

TEST(ReportWindowsBrand, NameIsPercentEncodedAsUtf8) {
  EXPECT_EQ(BrandTarget(L"Windows 11 Pro"), "/api/brandByUser/Windows%2011%20Pro");
  // "Windows 10 专业版"
  EXPECT_EQ(BrandTarget(L"Windows 10 \u4E13\u4E1A\u7248"),
            "/api/brandByUser/Windows%2010%20%E4%B8%93%E4%B8%9A%E7%89%88");
  EXPECT_EQ(BrandTarget(L"Edition \U0001F600"), "/api/brandByUser/Edition%20%F0%9F%98%80");
}

TEST(ReportWindowsBrand, LongNameIsCutAtAWholeCharacter) {
  const size_t room = MAX_PATH - 1 - 16;  // 243 characters after "api/brandByUser/"
  std::wstring exact(room, L'A');
  EXPECT_EQ(BrandTarget((exact + L"BBBB").c_str()), "/api/brandByUser/" + std::string(room, 'A'));

  // A surrogate pair across the cut goes whole or not at all.
  std::wstring split(room - 1, L'A');
  EXPECT_EQ(BrandTarget((split + L"\U0001F600tail").c_str()),
            "/api/brandByUser/" + std::string(room - 1, 'A'));
  std::wstring fits(room - 2, L'A');
  EXPECT_EQ(BrandTarget((fits + L"\U0001F600tail").c_str()),
            "/api/brandByUser/" + std::string(room - 2, 'A') + "%F0%9F%98%80");
}

TEST(ReportWindowsBrand, EncodedPathLongerThanTheBufferIsSentWhole) {
  std::wstring name(100, L'\u4E13');
  std::string expected = "/api/brandByUser/";
  for (int i = 0; i < 100; ++i) expected += "%E4%B8%93";
  EXPECT_EQ(BrandTarget(name.c_str()), expected);
}

// A copy of a DLL beside this test program, for as long as the scope lasts.
class DllBesideProgram {
 public:
  DllBesideProgram(const std::wstring& source, const wchar_t* name) {
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    path_ = program;
    path_ = path_.substr(0, path_.rfind(L'\\') + 1) + name;
    copied_ = CopyFileW(source.c_str(), path_.c_str(), FALSE) != FALSE;
  }
  ~DllBesideProgram() { DeleteFileW(path_.c_str()); }
  bool Copied() const { return copied_; }

 private:
  std::wstring path_;
  bool copied_ = false;
};

TEST(QueryWindowsBrand, NameComesOnlyFromTheLibraryBesideTheProgram) {
  const std::wstring standIn = HostPathFromEnv("NORV_WINBRAND_DLL");
  ASSERT_FALSE(standIn.empty());
  SetEnvironmentVariableW(L"NORV_BRAND_NAME", L"Windows 11 \u4E13\u4E1A\u7248");
  // Under Wine no winbrand.dll exists; one in the current folder is not ours.
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(standIn.substr(0, standIn.rfind(L'\\')).c_str());
  EXPECT_EQ(QueryWindowsBrand(), nullptr);
  SetCurrentDirectoryW(previous);
  {
    DllBesideProgram beside(standIn, L"winbrand.dll");
    ASSERT_TRUE(beside.Copied());
    wchar_t* name = QueryWindowsBrand();
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, L"Windows 11 \u4E13\u4E1A\u7248");
    EXPECT_EQ(BrandTarget(name), "/api/brandByUser/Windows%2011%20%E4%B8%93%E4%B8%9A%E7%89%88");
    LocalFree(name);

    SetEnvironmentVariableW(L"NORV_BRAND_NULL", L"1");
    EXPECT_EQ(QueryWindowsBrand(), nullptr);
    SetEnvironmentVariableW(L"NORV_BRAND_NULL", nullptr);
  }
  {
    // A library of that name without the export.
    DllBesideProgram beside(HostPathFromEnv("NORV_WEBVIEW_RUNTIME"), L"winbrand.dll");
    ASSERT_TRUE(beside.Copied());
    EXPECT_EQ(QueryWindowsBrand(), nullptr);
    EXPECT_EQ(GetModuleHandleW(L"winbrand.dll"), nullptr);  // and it is not kept loaded
  }
  SetEnvironmentVariableW(L"NORV_BRAND_NAME", nullptr);
}

}  // namespace
