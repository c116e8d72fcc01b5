// Self-check of the stand-in WebView2Loader.dll: loaded by path, driven
// through our declarations on a test window, its log read back.
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <string>
#include "support/test_support.h"
#include "webview/handler.h"

namespace {

CreateEnvironmentWithOptionsFunction StandInEntry() {
  // Kept loaded: its window classes and message-only window outlive a test.
  static HMODULE module = LoadLibraryW(HostPathFromEnv("NORV_WEBVIEW_STANDIN").c_str());
  return module ? reinterpret_cast<CreateEnvironmentWithOptionsFunction>(
                      reinterpret_cast<void*>(GetProcAddress(module, CreateEnvironmentExport)))
                : nullptr;
}

// Dispatches messages until done() holds; the deadline only stops a hang.
bool PumpUntil(const std::function<bool()>& done) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > 20000) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Wine has no WebView2 runtime; these tests run where the stand-in is built.
class StandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    create = StandInEntry();
    ASSERT_NE(nullptr, create) << "NORV_WEBVIEW_STANDIN does not name a loadable stand-in";
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    SetEnvironmentVariableW(L"NORV_WEBVIEW_LOG", log.c_str());
    SetEnvironmentVariableW(L"NORV_WEBVIEW_FAIL", nullptr);
    window = CreateWindowExW(0, L"STATIC", L"stand-in host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 420, 680,
                             nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
  }
  void TearDown() override {
    if (view) view->Release();
    if (controller) controller->Release();
    if (window) DestroyWindow(window);
    SetEnvironmentVariableW(L"NORV_WEBVIEW_LOG", nullptr);
    SetEnvironmentVariableW(L"NORV_WEBVIEW_FAIL", nullptr);
    CoUninitialize();
  }

  // Environment, then a controller on our window, each through the loop.
  HRESULT CreateController() {
    HRESULT result = E_UNEXPECTED;
    ICoreWebView2Environment* environment = nullptr;
    bool delivered = false;
    auto* done = MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
        [&](HRESULT code, ICoreWebView2Environment* created) {
          result = code;
          environment = created;
          if (environment) environment->AddRef();
          delivered = true;
        });
    EXPECT_EQ(S_OK, create(nullptr, folder.Path().c_str(), nullptr, done));
    done->Release();
    EXPECT_FALSE(delivered) << "completion ran inside the call";
    EXPECT_TRUE(PumpUntil([&] { return delivered; }));
    if (!environment) return result;

    delivered = false;
    auto* made = MakeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
        [&](HRESULT code, ICoreWebView2Controller* created) {
          result = code;
          controller = created;
          if (controller) controller->AddRef();
          delivered = true;
        });
    EXPECT_EQ(S_OK, environment->CreateCoreWebView2Controller(window, made));
    made->Release();
    environment->Release();
    EXPECT_FALSE(delivered) << "completion ran inside the call";
    EXPECT_TRUE(PumpUntil([&] { return delivered; }));
    if (controller) controller->get_CoreWebView2(&view);
    return result;
  }

  std::wstring RunScript(const wchar_t* script) {
    std::wstring result;
    bool delivered = false;
    auto* done = MakeHandler<ICoreWebView2ExecuteScriptCompletedHandler>([&](HRESULT code, LPCWSTR json) {
      EXPECT_EQ(S_OK, code);
      result = json;
      delivered = true;
    });
    EXPECT_EQ(S_OK, view->ExecuteScript(script, done));
    done->Release();
    EXPECT_FALSE(delivered) << "completion ran inside the call";
    EXPECT_TRUE(PumpUntil([&] { return delivered; }));
    return result;
  }

  HWND Page() const { return FindWindowExW(window, nullptr, L"NorvWebViewStandInPage", nullptr); }

  CreateEnvironmentWithOptionsFunction create = nullptr;
  RunFolder folder;
  std::wstring log = folder.File(L"webview.log");
  HWND window = nullptr;
  ICoreWebView2Controller* controller = nullptr;
  ICoreWebView2* view = nullptr;
};

constexpr wchar_t ServicePage[] = L"http://127.0.0.1:13001";
constexpr wchar_t PostAddressScript[] =
    L"window.chrome.webview.addEventListener('message', event => alert(event.data));"
    L"window.chrome.webview.postMessage(window.document.URL);";
constexpr wchar_t CheckedScript[] = L"document.getElementById('vpn_switch').checked;";
constexpr wchar_t ClickScript[] = L"document.getElementById('vpn_switch').click();";

}  // namespace

TEST_F(StandIn, HostsAViewThatNavigatesPostsTheAddressAndCloses) {
  ASSERT_EQ(S_OK, CreateController());
  ASSERT_NE(nullptr, view);
  ICoreWebView2Settings* settings = nullptr;
  ASSERT_EQ(S_OK, view->get_Settings(&settings));
  settings->put_IsScriptEnabled(TRUE);
  settings->put_AreDevToolsEnabled(FALSE);
  settings->Release();

  ASSERT_NE(nullptr, Page());
  EXPECT_EQ(S_OK, controller->put_Bounds(RECT{0, 0, 400, 640}));
  RECT placed = {};
  GetClientRect(Page(), &placed);
  EXPECT_EQ(400, placed.right);
  EXPECT_EQ(640, placed.bottom);
  controller->put_IsVisible(FALSE);
  EXPECT_FALSE(IsWindowVisible(Page()));
  controller->put_IsVisible(TRUE);
  EXPECT_TRUE(IsWindowVisible(Page()));

  // Handlers registered after Navigate still see its events: they come later.
  std::wstring started, message;
  int handlersAlive = 0;
  struct Alive {
    int* count;
    explicit Alive(int* c) : count(c) { ++*count; }
    Alive(const Alive& other) : count(other.count) { ++*count; }
    ~Alive() { --*count; }
  };
  EXPECT_EQ(S_OK, view->Navigate(ServicePage));
  EventRegistrationToken token = {};
  auto* onStart = MakeHandler<ICoreWebView2NavigationStartingEventHandler>(
      [&, alive = Alive(&handlersAlive)](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
        LPWSTR uri = nullptr;
        if (SUCCEEDED(args->get_Uri(&uri)) && uri) started = uri;
        CoTaskMemFree(uri);
      });
  EXPECT_EQ(S_OK, view->add_NavigationStarting(onStart, &token));
  onStart->Release();
  auto* onMessage = MakeHandler<ICoreWebView2WebMessageReceivedEventHandler>(
      [&, alive = Alive(&handlersAlive)](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
        LPWSTR text = nullptr;
        if (SUCCEEDED(args->TryGetWebMessageAsString(&text)) && text) message = text;
        CoTaskMemFree(text);
      });
  EXPECT_EQ(S_OK, view->add_WebMessageReceived(onMessage, &token));
  onMessage->Release();
  EXPECT_EQ(S_OK, view->AddScriptToExecuteOnDocumentCreated(PostAddressScript, nullptr));
  EXPECT_EQ(2, handlersAlive);
  EXPECT_TRUE(message.empty());
  EXPECT_TRUE(PumpUntil([&] { return !message.empty(); }));
  EXPECT_EQ(ServicePage, started);
  EXPECT_EQ(ServicePage, message);

  // No service answers inside the test's network namespace.
  EXPECT_EQ(L"null", RunScript(CheckedScript));
  EXPECT_EQ(L"null", RunScript(L"1 + 1"));

  EXPECT_EQ(S_OK, controller->Close());
  EXPECT_EQ(nullptr, Page());
  EXPECT_EQ(0, handlersAlive) << "Close keeps the event handlers";
  EXPECT_TRUE(FAILED(view->Navigate(ServicePage)));
  EXPECT_TRUE(FAILED(controller->put_IsVisible(TRUE)));
  view->Release();
  view = nullptr;
  controller->Release();
  controller = nullptr;

  std::vector<std::string> lines = Lines(ReadFileText(log));
  EXPECT_TRUE(Contains(lines, "CreateCoreWebView2EnvironmentWithOptions browserFolder=null userDataFolder=" +
                                  Narrow(folder.Path()) + " options=null"));
  for (const char* expected :
       {"Environment.CreateCoreWebView2Controller", "Controller.get_CoreWebView2", "WebView.get_Settings",
        "Settings.put_IsScriptEnabled 1", "Settings.put_AreDevToolsEnabled 0", "Settings.Release 0",
        "Controller.put_Bounds 0 0 400 640", "Controller.put_IsVisible 0", "WebView.Navigate http://127.0.0.1:13001",
        "WebView.add_NavigationStarting", "WebView.add_WebMessageReceived",
        "NavigationStarting http://127.0.0.1:13001", "NavigationStartingArgs.get_Uri",
        "WebMessageReceived http://127.0.0.1:13001", "WebMessageArgs.TryGetWebMessageAsString",
        "WebView.ExecuteScript document.getElementById('vpn_switch').checked;", "ExecuteScript.result null",
        "Controller.Close", "Controller.Release 0"})
    EXPECT_TRUE(Contains(lines, expected)) << expected;
  EXPECT_EQ(lines.back(), "Controller.Release 0");
}

TEST_F(StandIn, WithoutTheDocumentScriptNoMessageIsPosted) {
  ASSERT_EQ(S_OK, CreateController());
  ASSERT_NE(nullptr, view);
  bool started = false, posted = false;
  EventRegistrationToken token = {};
  auto* onStart = MakeHandler<ICoreWebView2NavigationStartingEventHandler>(
      [&](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs*) { started = true; });
  view->add_NavigationStarting(onStart, &token);
  onStart->Release();
  auto* onMessage = MakeHandler<ICoreWebView2WebMessageReceivedEventHandler>(
      [&](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs*) { posted = true; });
  view->add_WebMessageReceived(onMessage, &token);
  onMessage->Release();
  view->Navigate(ServicePage);
  EXPECT_TRUE(PumpUntil([&] { return started; }));
  // A script round trip orders us after the navigation's whole delivery.
  RunScript(L"0");
  EXPECT_FALSE(posted);
}

TEST_F(StandIn, FailureSwitchesAndApartment) {
  SetEnvironmentVariableW(L"NORV_WEBVIEW_FAIL", L"environment");
  EXPECT_EQ(E_FAIL, CreateController());
  EXPECT_EQ(nullptr, controller);

  SetEnvironmentVariableW(L"NORV_WEBVIEW_FAIL", L"controller");
  EXPECT_EQ(E_FAIL, CreateController());
  EXPECT_EQ(nullptr, controller);

  // A thread outside any apartment is refused at once, as by the runtime.
  struct Attempt {
    CreateEnvironmentWithOptionsFunction create;
    HRESULT result;
    bool invoked;
  } attempt = {create, S_OK, false};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        auto* a = static_cast<Attempt*>(p);
        auto* done = MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
            [a](HRESULT, ICoreWebView2Environment*) { a->invoked = true; });
        a->result = a->create(nullptr, nullptr, nullptr, done);
        done->Release();
        return 0;
      },
      &attempt, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_TRUE(FAILED(attempt.result));
  EXPECT_FALSE(attempt.invoked);
}

TEST_F(StandIn, SwitchScriptsAskAndDriveTheDevelopmentService) {
  DevService service;
  if (!service.Start(L"--state 0")) GTEST_SKIP() << "development service not available";
  ASSERT_EQ(S_OK, CreateController());
  ASSERT_NE(nullptr, view);
  EXPECT_EQ(L"false", RunScript(CheckedScript));
  EXPECT_EQ(L"null", RunScript(ClickScript));
  EXPECT_EQ(L"true", RunScript(CheckedScript));
  EXPECT_EQ(L"null", RunScript(ClickScript));
  EXPECT_EQ(L"false", RunScript(CheckedScript));
  std::vector<std::string> requests = service.Requests();
  EXPECT_EQ(1, std::count(requests.begin(), requests.end(), "PUT /api/connectLocation"));
  EXPECT_EQ(1, std::count(requests.begin(), requests.end(), "PUT /api/disconnectLocation"));
  service.Stop();

  DevService noSwitch;
  ASSERT_TRUE(noSwitch.Start(L"--no-switch"));
  EXPECT_EQ(L"null", RunScript(CheckedScript));
  EXPECT_EQ(L"null", RunScript(ClickScript));
  for (const auto& request : noSwitch.Requests()) EXPECT_EQ(std::string::npos, request.find("Location")) << request;
}
