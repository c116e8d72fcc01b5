// "norvvpnui brand" against the development service with the winbrand
// stand-in: what reaches the service, and that nothing does without a name.
#include <gtest/gtest.h>
#include "client_run.h"

namespace {

std::vector<std::string> RunBrand(bool withStandIn, const std::vector<std::wstring>& environment) {
  DevService service;
  EXPECT_TRUE(service.Start());
  ClientOptions options;
  options.webViewRuntime = false;
  options.winbrandStandIn = withStandIn;
  options.environment = environment;
  ClientRun client(options);
  EXPECT_TRUE(client.Start(L"brand"));
  DWORD status = 1;
  EXPECT_TRUE(client.Process().Wait(LivenessMs, &status));
  EXPECT_EQ(0u, status);
  return service.Requests();
}

TEST(BrandReport, NameIsSentPercentEncodedAsUtf8) {
  EXPECT_EQ((std::vector<std::string>{"PUT /api/brandByUser/Windows%2011%20Pro"}), RunBrand(true, {}));
  EXPECT_EQ((std::vector<std::string>{"PUT /api/brandByUser/Windows%2011%20%E4%B8%93%E4%B8%9A%E7%89%88"}),
            RunBrand(true, {L"NORV_BRAND_NAME=Windows 11 \u4E13\u4E1A\u7248"}));
}

TEST(BrandReport, OverLongNameIsCutToThePathBuffer) {
  // 16 characters of "api/brandByUser/" leave 243 of the 259 for the name.
  const auto requests = RunBrand(true, {L"NORV_BRAND_NAME=" + std::wstring(300, L'x')});
  EXPECT_EQ((std::vector<std::string>{"PUT /api/brandByUser/" + std::string(243, 'x')}), requests);
}

TEST(BrandReport, NoNameNoRequest) {
  EXPECT_TRUE(RunBrand(false, {}).empty());
  EXPECT_TRUE(RunBrand(true, {L"NORV_BRAND_NULL=1"}).empty());
}

TEST(BrandReport, OnlyTheLibraryBesideTheProgramIsAsked) {
  StrayCopies strays(HostPathFromEnv("NORV_WINBRAND_DLL"), L"winbrand.dll");
  DevService service;
  ASSERT_TRUE(service.Start());
  ClientOptions options;
  options.webViewRuntime = false;
  strays.ApplyTo(&options);
  ClientRun client(options);
  ASSERT_TRUE(client.Start(L"brand"));
  DWORD status = 1;
  EXPECT_TRUE(client.Process().Wait(LivenessMs, &status));
  EXPECT_EQ(0u, status);
  EXPECT_TRUE(service.Requests().empty());
}

}  // namespace
