// The client against a service on 13001 that never finishes its reply: every
// request gives up on it in time, so the tool mode ends and the interactive
// client starts, warns and quits.
#include <gtest/gtest.h>
#include <string>
#include "client_run.h"
#include "support/scripted_server.h"
#include "support/taskbar.h"

namespace {

TEST(MisbehavingService, BrandEndsWhateverTheServiceDoes) {
  for (const auto& service : MisbehavingServices()) {
    SCOPED_TRACE(service.first);
    ScriptedServer server;
    ASSERT_TRUE(server.Listening());
    server.Add(service.second);
    ClientOptions options;
    options.webViewRuntime = false;
    options.winbrandStandIn = true;
    ClientRun client(options);
    ASSERT_TRUE(client.Start(L"brand"));
    const ULONGLONG start = GetTickCount64();
    DWORD status = 1;
    const bool ended = client.Process().Wait(LivenessMs, &status);
    if (!ended) client.Process().Kill();
    EXPECT_TRUE(ended);
    EXPECT_EQ(0u, status);
    printf("brand, %s: ended after %llu ms\n", service.first, GetTickCount64() - start);
    EXPECT_EQ((std::vector<std::string>{"PUT /api/brandByUser/Windows%2011%20Pro"}), RequestLines(server));
  }
}

// Every request of an interactive run is dribbled: the edition report before
// the message loop, the start-up check and Exit's report.
TEST(MisbehavingService, DribbledRepliesHoldNeitherStartNorTheCheckNorExit) {
  ScriptedServer server;
  ASSERT_TRUE(server.Listening());
  for (int i = 0; i < 3; ++i) server.Add(HeaderBlockDribbled());
  ClientOptions options;
  options.webViewRuntime = false;
  options.winbrandStandIn = true;
  ClientRun client(options);
  ASSERT_TRUE(client.Start());
  HWND window = client.WaitForWindow();
  ASSERT_NE(nullptr, window) << "no window whose message loop answers";

  TrayIcon icon;
  EXPECT_TRUE(WaitUntil([&] { return FindTrayIcon(window, &icon) && icon.balloonTick != 0; }, LivenessMs));
  EXPECT_EQ(L"NorvVPN service not loaded, please reinstall", icon.balloonText);

  const long status = client.Exit(LivenessMs);
  if (status == -2) client.Process().Kill();
  EXPECT_EQ(0, status);
  EXPECT_EQ((std::vector<std::string>{"PUT /api/brandByUser/Windows%2011%20Pro", "GET /api/getTunnelStat",
                                      "PUT /api/closeByUser/1"}),
            RequestLines(server));
}

}  // namespace
