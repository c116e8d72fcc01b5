// The proxy walk through its system-call table: which connections are
// written, in what order, what a failure stops, and the exact error lines.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "proxy/proxy_settings.h"
#include "shell/tool_modes.h"
#include "support/test_support.h"

namespace {

struct Call {
  DWORD option;
  std::wstring connection;  // "<LAN>" for the LAN connection
};

struct FakeSystem {
  std::vector<Call> calls;
  std::vector<std::vector<INTERNET_PER_CONN_OPTIONW>> writtenOptions;
  std::vector<DWORD> writtenListSizes;
  int failAtCall = -1;
  DWORD failCode = 0;
  // Enumeration script.
  std::vector<std::wstring> entries;
  DWORD firstStatus = 603;
  DWORD firstCount = 0;
  bool firstCountFromEntries = true;
  DWORD secondStatus = 0;
  std::vector<DWORD> sizesSeen;
  int enumerations = 0;
  // Texts FormatMessageW knows.
  DWORD codeWithText = 0;
};
FakeSystem* fake = nullptr;

BOOL WINAPI FakeSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
  EXPECT_EQ(nullptr, handle);
  Call call{option, L"<none>"};
  if (option == INTERNET_OPTION_PER_CONNECTION_OPTION) {
    auto* list = static_cast<INTERNET_PER_CONN_OPTION_LISTW*>(buffer);
    call.connection = list->pszConnection ? list->pszConnection : L"<LAN>";
    fake->writtenOptions.emplace_back(list->pOptions, list->pOptions + list->dwOptionCount);
    fake->writtenListSizes.push_back(length);
  } else {
    EXPECT_EQ(nullptr, buffer);
    EXPECT_EQ(0u, length);
  }
  const int index = static_cast<int>(fake->calls.size());
  fake->calls.push_back(call);
  if (index == fake->failAtCall) {
    SetLastError(fake->failCode);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI FakeEnumEntries(LPCWSTR reserved, LPCWSTR phoneBook, LPRASENTRYNAMEW names, LPDWORD bytes,
                             LPDWORD count) {
  EXPECT_EQ(nullptr, reserved);
  EXPECT_EQ(nullptr, phoneBook);
  const DWORD n = static_cast<DWORD>(fake->entries.size());
  if (fake->enumerations++ == 0) {
    EXPECT_EQ(nullptr, names);
    *bytes = n * sizeof(RASENTRYNAMEW);
    *count = fake->firstCountFromEntries ? n : fake->firstCount;
    return fake->firstStatus;
  }
  for (DWORD i = 0; i < *bytes / sizeof(RASENTRYNAMEW); ++i) fake->sizesSeen.push_back(names[i].dwSize);
  if (fake->secondStatus != 0) return fake->secondStatus;
  for (DWORD i = 0; i < n; ++i) wcscpy_s(names[i].szEntryName, fake->entries[i].c_str());
  *count = n;
  return 0;
}

DWORD WINAPI FakeFormatMessage(DWORD flags, LPCVOID source, DWORD code, DWORD language, LPWSTR out,
                               DWORD size, va_list* arguments) {
  EXPECT_EQ(0x3100u, flags);
  EXPECT_EQ(nullptr, source);
  EXPECT_EQ(0u, language);
  EXPECT_EQ(0u, size);
  EXPECT_EQ(nullptr, arguments);
  if (code != fake->codeWithText) return 0;
  const wchar_t text[] = L"Access is denied.\r\n";
  auto* copy = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, sizeof text));
  memcpy(copy, text, sizeof text);
  *reinterpret_cast<LPWSTR*>(out) = copy;
  return static_cast<DWORD>(wcslen(text));
}

class ProxyWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ProxyCalls;
    fake = &system_;
    ProxyCalls = {FakeSetOption, FakeEnumEntries, FakeFormatMessage};
  }
  void TearDown() override {
    ProxyCalls = saved_;
    fake = nullptr;
  }
  std::vector<std::wstring> Connections() const {
    std::vector<std::wstring> written;
    for (const auto& call : system_.calls)
      if (call.option == INTERNET_OPTION_PER_CONNECTION_OPTION) written.push_back(call.connection);
    return written;
  }
  FakeSystem system_;
  ProxySystemCalls saved_;
};

TEST_F(ProxyWalk, LanOnlyWithoutPhoneBookEntries) {
  for (DWORD status : {0ul, 623ul}) {  // success, or a failure that reports no entries
    system_ = FakeSystem{};
    system_.firstStatus = status;
    EXPECT_EQ(0u, SetProxyOff());
    ASSERT_EQ(3u, system_.calls.size());
    EXPECT_EQ(75u, system_.calls[0].option);
    EXPECT_EQ(L"<LAN>", system_.calls[0].connection);
    EXPECT_EQ(95u, system_.calls[1].option);
    EXPECT_EQ(37u, system_.calls[2].option);
    EXPECT_EQ(1u, system_.enumerations);
  }
}

TEST_F(ProxyWalk, LanFirstThenEveryEntryInOrder) {
  system_.entries = {L"Office VPN", L"\u62E8\u53F7", L"Backup"};
  StdStreamCapture errors(STD_ERROR_HANDLE);
  EXPECT_EQ(0u, SetProxyOff());
  EXPECT_EQ(12u, system_.calls.size());
  EXPECT_EQ((std::vector<std::wstring>{L"<LAN>", L"Office VPN", L"\u62E8\u53F7", L"Backup"}), Connections());
  const DWORD perConnection[] = {75, 95, 37};
  for (size_t i = 0; i < system_.calls.size(); ++i) EXPECT_EQ(perConnection[i % 3], system_.calls[i].option) << i;
  EXPECT_EQ((std::vector<DWORD>{1048, 1048, 1048}), system_.sizesSeen);
  for (DWORD size : system_.writtenListSizes) EXPECT_EQ(32u, size);
  EXPECT_EQ("", errors.Text());
}

TEST_F(ProxyWalk, FirstFailureStopsTheWalkWithOneLine) {
  const wchar_t* steps[] = {L"setting options", L"propagating changes", L"refreshing"};
  for (int failAt = 0; failAt < 9; ++failAt) {
    system_ = FakeSystem{};
    system_.entries = {L"A", L"B"};
    system_.failAtCall = failAt;
    system_.failCode = failAt % 2 ? 5 : 12009;  // one with a system text, one without
    system_.codeWithText = 5;
    StdStreamCapture errors(STD_ERROR_HANDLE);
    EXPECT_EQ(3u, SetProxyOff()) << failAt;
    EXPECT_EQ(static_cast<size_t>(failAt + 1), system_.calls.size()) << failAt;
    const std::string expected = failAt % 2
        ? "Error " + Narrow(steps[failAt % 3]) + ": 5 Access is denied.\r\n\n"
        : "Error " + Narrow(steps[failAt % 3]) + ": 12009 (null)\n";
    EXPECT_EQ(expected, errors.Text()) << failAt;
  }
}

TEST_F(ProxyWalk, EnumerationFailures) {
  {
    // Entries reported without asking for a buffer.
    system_.entries = {L"A", L"B"};
    system_.firstStatus = 0;
    StdStreamCapture errors(STD_ERROR_HANDLE);
    EXPECT_EQ(3u, SetProxyOff());
    EXPECT_EQ("Error acquire buffer size\n", errors.Text());
    EXPECT_TRUE(system_.calls.empty());
  }
  {
    system_ = FakeSystem{};
    system_.entries = {L"A"};
    system_.secondStatus = 632;
    StdStreamCapture errors(STD_ERROR_HANDLE);
    EXPECT_EQ(3u, SetProxyOff());
    EXPECT_EQ("Error RasEnumEntries: 632\n", errors.Text());
    EXPECT_TRUE(system_.calls.empty());
  }
  {
    // More entries claimed than the buffer the system asked for can hold:
    // only the records inside it are touched.
    system_ = FakeSystem{};
    system_.entries = {L"A"};
    system_.firstCountFromEntries = false;
    system_.firstCount = 50;
    EXPECT_EQ(0u, SetProxyOff());
    EXPECT_EQ((std::vector<DWORD>{1048}), system_.sizesSeen);
    EXPECT_EQ((std::vector<std::wstring>{L"<LAN>", L"A"}), Connections());
  }
}

TEST_F(ProxyWalk, OptionListsOfTheModes) {
  system_.entries = {L"VPN"};
  SetProxyOff();
  ASSERT_EQ(2u, system_.writtenOptions.size());
  for (const auto& options : system_.writtenOptions) {
    ASSERT_EQ(1u, options.size());
    EXPECT_EQ(DWORD(INTERNET_PER_CONN_FLAGS), options[0].dwOption);
    EXPECT_EQ(9u, options[0].Value.dwValue);
  }

  wchar_t url[] = L"http://proxy.example/p.pac";
  wchar_t empty[] = L"";
  for (wchar_t* argument : {url, empty}) {
    system_ = FakeSystem{};
    wchar_t* argv[] = {const_cast<wchar_t*>(L"norvvpnui.exe"), const_cast<wchar_t*>(L"pac"), argument};
    RunToolMode(ToolMode::Pac, argv);
    ASSERT_EQ(1u, system_.writtenOptions.size());
    const auto& options = system_.writtenOptions[0];
    ASSERT_EQ(2u, options.size());
    EXPECT_EQ(DWORD(INTERNET_PER_CONN_FLAGS), options[0].dwOption);
    EXPECT_EQ(5u, options[0].Value.dwValue);
    EXPECT_EQ(DWORD(INTERNET_PER_CONN_AUTOCONFIG_URL), options[1].dwOption);
    EXPECT_EQ(argument, options[1].Value.pszValue);  // the argument itself, not a copy
  }

  wchar_t server[] = L"127.0.0.1:8080";
  wchar_t bypass[] = L"<local>;*.lan";
  wchar_t* argv[] = {const_cast<wchar_t*>(L"norvvpnui.exe"), const_cast<wchar_t*>(L"global"), server, bypass};
  system_ = FakeSystem{};
  RunToolMode(ToolMode::Global, argv);
  ASSERT_EQ(1u, system_.writtenOptions.size());
  const auto& options = system_.writtenOptions[0];
  ASSERT_EQ(3u, options.size());
  EXPECT_EQ(3u, options[0].Value.dwValue);
  EXPECT_EQ(DWORD(INTERNET_PER_CONN_PROXY_SERVER), options[1].dwOption);
  EXPECT_EQ(server, options[1].Value.pszValue);
  EXPECT_EQ(DWORD(INTERNET_PER_CONN_PROXY_BYPASS), options[2].dwOption);
  EXPECT_EQ(bypass, options[2].Value.pszValue);
}

}  // namespace
