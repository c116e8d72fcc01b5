#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include "support/scripted_server.h"
#include <psapi.h>
#include "service/service_client.h"

namespace {

// Everything one exchange handed back, copied out so the reply can be released.
struct Outcome {
  DWORD result = 0;
  bool bodyNull = true;
  std::string body;
  DWORD length = 0;
  DWORD status = 0;
  std::wstring location;
  std::wstring rawHeaders;
  ULONGLONG elapsedMs = 0;
};

Outcome Exchange(const wchar_t* path = L"api/getTunnelStat", const wchar_t* verb = L"GET") {
  ServiceClient client;
  ServiceReply reply;
  OpenServiceClient(&client, &reply);
  Outcome outcome;
  ULONGLONG start = GetTickCount64();
  outcome.result = SendRequest(client, path, verb, &reply);
  outcome.elapsedMs = GetTickCount64() - start;
  outcome.bodyNull = reply.body == nullptr;
  if (reply.body != nullptr) {
    outcome.body.assign(reply.body, reply.length);
    EXPECT_EQ(reply.body[reply.length], '\0');
  }
  outcome.length = reply.length;
  outcome.status = reply.status;
  outcome.location = reply.location;
  if (reply.rawHeaders != nullptr) outcome.rawHeaders = reply.rawHeaders;
  ReleaseReply(&reply);
  EXPECT_EQ(reply.body, nullptr);
  EXPECT_EQ(reply.rawHeaders, nullptr);
  CloseServiceClient(&client);
  return outcome;
}

// A body large enough that it arrives in several pieces.
std::string Pattern(size_t size) {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

TEST(SendRequest, AnswerStatusesDeliverTheBodyAndLeaveStatusAlone) {
  for (int code : {200, 201, 400}) {
    SCOPED_TRACE(code);
    ScriptedServer server;
    ASSERT_TRUE(server.Listening());
    server.Add(Reply(code, "{\"status\":1}"));
    Outcome outcome = Exchange();
    EXPECT_EQ(outcome.result, 0u);
    EXPECT_EQ(outcome.status, 0u);
    ASSERT_FALSE(outcome.bodyNull);
    EXPECT_EQ(outcome.body, "{\"status\":1}");
    EXPECT_EQ(outcome.length, 12u);
    EXPECT_EQ(outcome.rawHeaders.rfind(L"HTTP/1.1 " + std::to_wstring(code), 0), 0u);
    EXPECT_NE(outcome.rawHeaders.find(L"Content-Length: 12\r\n"), std::wstring::npos);
    EXPECT_TRUE(outcome.location.empty());
  }
}

TEST(SendRequest, EmptyBodyIsNoAnswer) {
  ScriptedServer server;
  server.Add(Reply(200, ""));
  Outcome outcome = Exchange();
  EXPECT_EQ(outcome.result, 0u);
  EXPECT_TRUE(outcome.bodyNull);
  EXPECT_EQ(outcome.length, 0u);
  EXPECT_EQ(outcome.status, 0u);
}

TEST(SendRequest, OtherStatusIsReportedAndItsBodyNotRead) {
  for (int code : {404, 500, 204}) {
    SCOPED_TRACE(code);
    ScriptedServer server;
    server.Add(Reply(code, code == 204 ? "" : "{\"status\":0}"));
    Outcome outcome = Exchange();
    EXPECT_NE(outcome.result, 0u);
    EXPECT_EQ(outcome.status, static_cast<DWORD>(code));
    EXPECT_TRUE(outcome.bodyNull);
    EXPECT_EQ(outcome.length, 0u);
    EXPECT_TRUE(outcome.rawHeaders.empty());
  }
}

TEST(SendRequest, RedirectIsReportedNotFollowed) {
  for (int code : {301, 302}) {
    SCOPED_TRACE(code);
    ScriptedServer server;
    server.Add(Reply(code, "moved", "Location: http://127.0.0.1:13001/api/elsewhere\r\n"));
    server.Add(Reply(200, "{\"status\":0}"));
    Outcome outcome = Exchange();
    EXPECT_EQ(outcome.result, 0u);
    EXPECT_EQ(outcome.status, static_cast<DWORD>(code));
    EXPECT_EQ(outcome.location, L"http://127.0.0.1:13001/api/elsewhere");
    EXPECT_EQ(outcome.body, "moved");
    EXPECT_EQ(server.Requests().size(), 1u);
  }
}

TEST(SendRequest, RedirectWithoutLocationIsAFailureWithNothingHandedBack) {
  for (int code : {301, 302}) {
    SCOPED_TRACE(code);
    ScriptedServer server;
    server.Add(Reply(code, "moved"));
    Outcome outcome = Exchange();
    EXPECT_EQ(outcome.result, 500u);
    EXPECT_EQ(outcome.status, 0u);
    EXPECT_TRUE(outcome.bodyNull);
    EXPECT_TRUE(outcome.location.empty());
    EXPECT_EQ(server.Requests().size(), 1u);
  }
}

TEST(SendRequest, BodyInPiecesArrivesAsOneTextInOrder) {
  {
    ScriptedServer server;
    const std::string pieces[] = {"{\"sta", "tus\"", ":1,\"x\":2}"};
    server.Add({SendBytes(ReplyHead(200, 18) + pieces[0]), PauseFor(300), SendBytes(pieces[1]), PauseFor(300),
                SendBytes(pieces[2])});
    Outcome outcome = Exchange();
    EXPECT_EQ(outcome.result, 0u);
    EXPECT_EQ(outcome.body, "{\"status\":1,\"x\":2}");
    EXPECT_EQ(outcome.length, 18u);
  }
  {
    // Chunked transfer and a body far larger than one read.
    std::string big = Pattern(300000);
    Script script = {SendBytes("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n")};
    for (size_t at = 0; at < big.size(); at += 70000) {
      std::string piece = big.substr(at, 70000);
      char size[16];
      snprintf(size, sizeof size, "%zx\r\n", piece.size());
      script.push_back(SendBytes(size + piece + "\r\n"));
      script.push_back(PauseFor(50));
    }
    script.push_back(SendBytes("0\r\n\r\n"));
    ScriptedServer server;
    server.Add(script);
    Outcome outcome = Exchange();
    EXPECT_EQ(outcome.result, 0u);
    EXPECT_EQ(outcome.length, big.size());
    EXPECT_TRUE(outcome.body == big);
  }
}

// How far this process's working set rose above where it was while `work` ran.
SIZE_T WorkingSetRiseWhile(const std::function<void()>& work) {
  auto workingSet = [] {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize;
  };
  const SIZE_T before = workingSet();
  std::atomic<SIZE_T> highest{before};
  std::atomic<bool> done{false};
  std::thread sampler([&] {
    while (!done) {
      SIZE_T now = workingSet();
      if (now > highest) highest = now;
      Sleep(10);
    }
  });
  work();
  done = true;
  sampler.join();
  return highest - before;
}

TEST(SendRequest, NoServiceHoldsTheCallerOrItsMemoryButALargeReplyIsRead) {
  for (const auto& service : MisbehavingServices()) {
    SCOPED_TRACE(service.first);
    ScriptedServer server;
    server.Add(service.second);
    Outcome outcome;
    SIZE_T rise = WorkingSetRiseWhile([&] { outcome = Exchange(); });
    EXPECT_NE(outcome.result, 0u);
    EXPECT_TRUE(outcome.bodyNull);
    EXPECT_EQ(outcome.status, 0u);
    // A liveness bound, a generous multiple of the exchange's own.
    EXPECT_LT(outcome.elapsedMs, 30000u);
    // 16 MiB of body at most, never the hundreds a reader without a cap takes in.
    EXPECT_LT(rise, SIZE_T{64} << 20);
    printf("%s: no answer after %llu ms, working set rose %zu KiB\n", service.first, outcome.elapsedMs,
           rise / 1024);
  }
  // A reply of 5 MB whose "status" comes last is still an answer.
  const std::string body = "{\"pad\":\"" + Pattern(5 << 20) + "\",\"status\":0}";
  ScriptedServer server;
  server.Add(Reply(200, body));
  Outcome outcome = Exchange();
  EXPECT_EQ(outcome.result, 0u);
  EXPECT_EQ(outcome.length, body.size());
  EXPECT_TRUE(outcome.body == body);
  EXPECT_EQ(ReadTunnelState(outcome.body.c_str()), TunnelState::Closed);
  printf("5 MB reply read in %llu ms\n", outcome.elapsedMs);
}

TEST(SendRequest, SilentServerIsGivenUpWithinSeconds) {
  ScriptedServer server;
  server.Add({HoldSilent()});
  Outcome outcome = Exchange();
  EXPECT_NE(outcome.result, 0u);
  EXPECT_TRUE(outcome.bodyNull);
  EXPECT_EQ(outcome.status, 0u);
  // A liveness bound, below WinHTTP's own wait for response headers (90 s on Windows).
  EXPECT_LT(outcome.elapsedMs, 30000u);
  printf("silent server given up after %llu ms\n", outcome.elapsedMs);
}

TEST(SendRequest, NothingListeningFailsWithNoOutValues) {
  Outcome outcome = Exchange();
  EXPECT_NE(outcome.result, 0u);
  EXPECT_TRUE(outcome.bodyNull);
  EXPECT_EQ(outcome.length, 0u);
  EXPECT_EQ(outcome.status, 0u);
  EXPECT_TRUE(outcome.location.empty());
  EXPECT_TRUE(outcome.rawHeaders.empty());
}

TEST(SendRequest, DroppedConnectionEndsTheBodyAndKeepsWhatArrived) {
  {
    ScriptedServer server;
    server.Add({SendBytes(ReplyHead(200, 100) + "{\"status\":1, \"pad\":\""), PauseFor(300)});
    Outcome outcome = Exchange();
    EXPECT_LT(outcome.elapsedMs, 30000u);
    EXPECT_EQ(outcome.body, "{\"status\":1, \"pad\":\"");
    EXPECT_EQ(outcome.length, 20u);
  }
  {
    ScriptedServer server;
    server.Add({SendBytes(ReplyHead(200, 100) + "{\"status\":1, \"pad\":\""), PauseFor(300), ResetConnection()});
    Outcome outcome = Exchange();
    EXPECT_LT(outcome.elapsedMs, 30000u);
    // A reset may take the unread bytes with it; whatever is kept is what was sent.
    EXPECT_EQ(std::string("{\"status\":1, \"pad\":\"").rfind(outcome.body, 0), 0u);
  }
}

TEST(SendRequest, RequestCarriesTheFixedFormAndNoBody) {
  for (const wchar_t* verb : {L"GET", L"PUT"}) {
    ScriptedServer server;
    server.Add(Reply(200, "{}"));
    Outcome outcome = Exchange(L"api/disconnectLocation", verb);
    EXPECT_EQ(outcome.result, 0u);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    ParsedRequest request = ParseRequest(requests[0]);
    EXPECT_EQ(request.method, verb == std::wstring(L"GET") ? "GET" : "PUT");
    EXPECT_EQ(request.target, "/api/disconnectLocation");
    EXPECT_EQ(request.version, "HTTP/1.1");
    using Values = std::vector<std::string>;
    EXPECT_EQ(request.Values("user-agent"), Values{"NorvVpn Windows"});
    EXPECT_EQ(request.Values("accept"), Values{"application/json"});
    EXPECT_EQ(request.Values("content-type"), Values{"application/json"});
    EXPECT_EQ(request.Values("pragma"), Values{"no-cache"});
    EXPECT_EQ(request.Values("cache-control"), Values{"no-cache"});
    EXPECT_EQ(request.Values("host"), Values{"127.0.0.1:13001"});
    Values length = request.Values("content-length");
    EXPECT_TRUE(length.empty() || length == Values{"0"}) << requests[0];
    EXPECT_TRUE(request.Values("transfer-encoding").empty());
    EXPECT_EQ(request.body, "");
  }
}

}  // namespace
