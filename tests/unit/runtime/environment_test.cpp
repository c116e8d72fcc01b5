// The runtime's environment as the client meets it: the apartment it needs,
// a browser that is missing, exits during start or does not start in time,
// and the browser's end with the last view.
#include <gtest/gtest.h>
#include "runtime_host.h"
#include "webview/handler.h"

namespace {

constexpr HRESULT NoRuntime = static_cast<HRESULT>(0x80070002);  // the loader's "no runtime installed"

struct Attempt {
  HRESULT called = E_PENDING;
  HRESULT delivered = E_PENDING;
  bool environment = false;
};

// One environment request from this thread; its completion through the loop.
Attempt RequestEnvironment(const std::wstring& folder, bool pump) {
  Attempt attempt;
  auto* done = MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [&attempt](HRESULT code, ICoreWebView2Environment* environment) {
        attempt.delivered = code;
        attempt.environment = environment != nullptr;
      });
  attempt.called = RuntimeEntry()(nullptr, folder.c_str(), nullptr, done);
  done->Release();
  if (pump && SUCCEEDED(attempt.called)) PumpUntil([&] { return attempt.delivered != E_PENDING; });
  return attempt;
}

class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) { SetEnvironmentVariableW(name, value); }
  ~ScopedVariable() { SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

DWORD WINAPI RequestFromMultithreadedApartment(void* result) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  RunFolder folder;
  *static_cast<HRESULT*>(result) = RequestEnvironment(folder.Path(), false).called;
  CoUninitialize();
  return 0;
}

class RuntimeEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, RuntimeEntry()) << "no WebView2Loader.dll beside the test binary";
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override { CoUninitialize(); }
  RuntimeHost host;
};

TEST_F(RuntimeEnvironment, RefusesAThreadOutsideASingleThreadedApartment) {
  HRESULT result = E_PENDING;
  HANDLE thread = CreateThread(nullptr, 0, RequestFromMultithreadedApartment, &result, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  WaitForSingleObject(thread, LivenessMs);
  CloseHandle(thread);
  EXPECT_EQ(RPC_E_CHANGED_MODE, result);
}

TEST_F(RuntimeEnvironment, FailsLikeAMissingRuntimeWhenTheBrowserCannotRun) {
  {
    ScopedVariable browser(L"NORV_WEBVIEW_BROWSER", L"/nonexistent/chromium");
    Attempt missing = RequestEnvironment(host.folder.Path(), true);
    EXPECT_EQ(NoRuntime, missing.called);
    PumpFor(300);
    EXPECT_EQ(E_PENDING, missing.delivered) << "no completion after a failed call";
  }
  {
    // A program that ends at once, in place of the browser.
    ScopedVariable browser(L"NORV_WEBVIEW_BROWSER", L"/bin/false");
    Attempt exits = RequestEnvironment(host.folder.Path(), true);
    EXPECT_EQ(S_OK, exits.called);
    EXPECT_EQ(NoRuntime, exits.delivered);
    EXPECT_FALSE(exits.environment);
  }
  {
    // A real browser that cannot answer within 1 ms: refused, and stopped.
    ScopedVariable bound(L"NORV_WEBVIEW_START_TIMEOUT_MS", L"1");
    Attempt late = RequestEnvironment(host.folder.Path(), true);
    EXPECT_EQ(S_OK, late.called);
    EXPECT_EQ(NoRuntime, late.delivered);
    const unsigned long pid = strtoul(ReadFileText(host.folder.File(L"EBWebView\\norv-browser.pid")).c_str(), nullptr, 10);
    EXPECT_NE(0u, pid);
    EXPECT_TRUE(PumpUntil([pid] { return !LinuxProcessRuns(pid); }, LivenessMs));
  }
  // And then a browser that works, on the same profile.
  EXPECT_EQ(S_OK, host.Start());
}

TEST_F(RuntimeEnvironment, TheBrowserRunsOnTheProfileAndEndsWithTheLastView) {
  ASSERT_EQ(S_OK, host.Start());
  const unsigned long pid = strtoul(host.LogValue("pid").c_str(), nullptr, 10);
  ASSERT_TRUE(LinuxProcessRuns(pid));
  EXPECT_NE(std::string::npos, host.LogValue("profile").find("EBWebView"));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(host.folder.File(L"EBWebView\\DevToolsActivePort").c_str()));
  // The handlers the runtime held are given back once it is done with them.
  EXPECT_TRUE(host.LogHas("EnvironmentCompletedHandler.Release 0"));
  EXPECT_TRUE(host.LogHas("ControllerCompletedHandler.Release 0"));

  host.Release();
  EXPECT_TRUE(PumpUntil([pid] { return !LinuxProcessRuns(pid); }, LivenessMs));
}

}  // namespace
