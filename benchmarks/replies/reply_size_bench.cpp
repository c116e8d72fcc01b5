// What a large reply costs SendRequest, side by side with the floor: a plain
// WinHTTP read loop into a buffer of the right size, over the same loopback
// replies from the same in-process server. Sizes alternate; medians of RUNS.
#include <windows.h>
#include <winhttp.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "service/service_client.h"
#include "support/scripted_server.h"

namespace {

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double TimeSendRequest(const std::string& body) {
  ScriptedServer server;
  server.Add(Reply(200, body));
  ServiceClient client;
  ServiceReply reply;
  OpenServiceClient(&client, &reply);
  double start = Now();
  SendRequest(client, L"api/getTunnelStat", L"GET", &reply);
  double elapsed = Now() - start;
  if (reply.length != body.size()) fprintf(stderr, "SendRequest read %lu of %zu bytes\n", reply.length, body.size());
  ReleaseReply(&reply);
  CloseServiceClient(&client);
  return elapsed;
}

double TimeReadLoop(const std::string& body) {
  ScriptedServer server;
  server.Add(Reply(200, body));
  std::vector<char> buffer(body.size() + 1);
  double start = Now();
  HINTERNET session = WinHttpOpen(L"NorvVpn Windows", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = WinHttpConnect(session, L"127.0.0.1", 13001, 0);
  HINTERNET request = WinHttpOpenRequest(connection, L"GET", L"api/getTunnelStat", nullptr, nullptr, nullptr,
                                         WINHTTP_FLAG_REFRESH);
  size_t position = 0;
  if (WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr)) {
    DWORD available = 0, read = 0;
    while (WinHttpQueryDataAvailable(request, &available) && available > 0 && position + available <= body.size() &&
           WinHttpReadData(request, buffer.data() + position, available, &read) && read > 0) {
      position += read;
    }
  }
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  double elapsed = Now() - start;
  if (position != body.size()) fprintf(stderr, "the read loop read %zu of %zu bytes\n", position, body.size());
  return elapsed;
}

}  // namespace

int main() {
  const char* runsText = getenv("RUNS");
  const int runs = runsText != nullptr && atoi(runsText) > 0 ? atoi(runsText) : 7;
  const size_t megabytes[] = {1, 4, 15};
  std::vector<double> sendTimes[3], loopTimes[3];
  for (int run = 0; run < runs; ++run) {
    for (int i = 0; i < 3; ++i) {
      std::string body = "{\"pad\":\"" + std::string(megabytes[i] << 20, 'x') + "\",\"status\":0}";
      sendTimes[i].push_back(TimeSendRequest(body));
      loopTimes[i].push_back(TimeReadLoop(body));
    }
  }
  printf("reply size | SendRequest | plain read loop | ratio | SendRequest per MB\n");
  double perMegabyte[3];
  for (int i = 0; i < 3; ++i) {
    double send = Median(sendTimes[i]), loop = Median(loopTimes[i]);
    perMegabyte[i] = send / static_cast<double>(megabytes[i]);
    printf("%5zu MB   | %8.1f ms | %8.1f ms      | %.2fx | %.1f ms\n", megabytes[i], send, loop, send / loop,
           perMegabyte[i]);
  }
  printf("cost per MB, 15 MB against 1 MB: %.2fx (1.00x is proportional to the size)\n",
         perMegabyte[2] / perMegabyte[0]);
  return 0;
}
