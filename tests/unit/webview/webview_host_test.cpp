// The host against recording fakes: what OnControllerCreated asks of the
// runtime and in what order, what it leaves alone when something was not
// delivered, and that every reference and string it takes is given back once.
#include <gtest/gtest.h>
#include "fake_webview.h"
#include "support/webview_calls.h"
#include "webview/engine_life.h"
#include "webview/webview_host.h"

namespace {

class WebViewHost : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    window_ = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 640, nullptr, nullptr,
                              nullptr, nullptr);
    WebViewUnavailable = false;
  }
  void TearDown() override {
    ReleaseWebView();
    for (FakeCom* fake : {&view_, &controller_}) DropFakeReferences(fake);
    DestroyWindow(window_);
    CoUninitialize();
  }
  HWND window_ = nullptr;
  FakeLog log_;
  FakeCom settings_ = MakeFakeSettings(&log_);
  FakeCom view_ = MakeFakeWebView(&log_, &settings_);
  FakeCom controller_ = MakeFakeController(&log_, &view_);
};

TEST_F(WebViewHost, ControllerCreatedConfiguresNavigatesAndRegisters) {
  RECT area;
  GetClientRect(window_, &area);
  EXPECT_EQ(S_OK, OnControllerCreated(window_, S_OK, As<ICoreWebView2Controller>(controller_)));
  const std::string bounds = "Controller.put_Bounds 0 0 " + std::to_string(area.right) + " " + std::to_string(area.bottom);
  EXPECT_EQ(ConfigureViewCalls(bounds), log_.calls);
  EXPECT_EQ(As<ICoreWebView2Controller>(controller_), WebViewController.Get());
  EXPECT_EQ(As<ICoreWebView2>(view_), WebView.Get());
  EXPECT_EQ(1, settings_.refs);          // settings released after use
  EXPECT_EQ(2, controller_.refs);        // ours and the host's
  EXPECT_EQ(2, view_.refs);
  ASSERT_EQ(4u, view_.handlers.size());  // the runtime holds the only reference to each handler
  for (IUnknown* handler : view_.handlers) {
    handler->AddRef();
    EXPECT_EQ(1u, handler->Release());
  }
  EXPECT_FALSE(WebViewUnavailable);

  ReleaseWebView();
  EXPECT_EQ(1, controller_.refs);
  EXPECT_EQ(1, view_.refs);
}

TEST_F(WebViewHost, NothingUndeliveredIsTouched) {
  EXPECT_EQ(S_OK, OnControllerCreated(window_, S_OK, nullptr));
  EXPECT_EQ(S_OK, OnControllerCreated(window_, E_FAIL, As<ICoreWebView2Controller>(controller_)));
  EXPECT_TRUE(log_.calls.empty());
  EXPECT_EQ(nullptr, WebViewController.Get());
  EXPECT_EQ(1, controller_.refs);
  EXPECT_TRUE(WebViewUnavailable);

  EXPECT_EQ(S_OK, OnEnvironmentCreated(window_, E_FAIL, nullptr));
  EXPECT_TRUE(log_.calls.empty());

  // A view without settings is closed and dropped rather than shown unconfigured.
  WebViewUnavailable = false;
  FakeCom bareView = MakeFakeWebView(&log_, nullptr);
  FakeCom controller = MakeFakeController(&log_, &bareView);
  EXPECT_EQ(S_OK, OnControllerCreated(window_, S_OK, As<ICoreWebView2Controller>(controller)));
  EXPECT_EQ((std::vector<std::string>{"Controller.get_CoreWebView2", "WebView.get_Settings",
                                      "Controller.put_IsVisible 0", "Controller.Close"}),
            log_.calls);
  EXPECT_EQ(nullptr, WebViewController.Get());
  EXPECT_EQ(nullptr, WebView.Get());
  EXPECT_EQ(1, controller.refs);
  EXPECT_EQ(1, bareView.refs);
  EXPECT_TRUE(WebViewUnavailable);
}

TEST_F(WebViewHost, SecondControllerReleasesTheFirstPair) {
  OnControllerCreated(window_, S_OK, As<ICoreWebView2Controller>(controller_));
  FakeLog otherLog;
  FakeCom settings = MakeFakeSettings(&otherLog);
  FakeCom view = MakeFakeWebView(&otherLog, &settings);
  FakeCom controller = MakeFakeController(&otherLog, &view);
  OnControllerCreated(window_, S_OK, As<ICoreWebView2Controller>(controller));
  EXPECT_EQ(1, controller_.refs);
  EXPECT_EQ(1, view_.refs);
  EXPECT_EQ(2, controller.refs);
  EXPECT_EQ(2, view.refs);
  // A failed delivery afterwards keeps the live pair.
  OnControllerCreated(window_, E_FAIL, nullptr);
  EXPECT_EQ(As<ICoreWebView2Controller>(controller), WebViewController.Get());
  ReleaseWebView();
  DropFakeReferences(&view);
  EXPECT_EQ(1, controller.refs);
  EXPECT_EQ(1, view.refs);
}

TEST_F(WebViewHost, FailedPagesAndHangsAreActedOnWithinBudgetsAndADeadBrowserIsLeftToTheLoop) {
  OnControllerCreated(window_, S_OK, As<ICoreWebView2Controller>(controller_));
  ASSERT_EQ(4u, view_.handlers.size());
  auto* failed = reinterpret_cast<ICoreWebView2ProcessFailedEventHandler*>(view_.handlers[3]);
  auto raise = [&](ICoreWebView2ProcessFailedEventHandler* handler, FakeCom* sender, int kind) {
    log_.calls.clear();
    FakeCom args = MakeFakeProcessFailedArgs(&log_, kind);
    handler->Invoke(As<ICoreWebView2>(*sender), As<ICoreWebView2ProcessFailedEventArgs>(args));
    EXPECT_EQ(1, args.refs);
    return log_.calls;
  };
  auto posted = [&] {
    MSG message;
    return PeekMessageW(&message, window_, WM_WEBVIEW_LIFE, WM_WEBVIEW_LIFE, PM_REMOVE) != FALSE;
  };
  const std::string kind = "ProcessFailedArgs.get_ProcessFailedKind";
  const std::vector<std::string> reload = {kind, "WebView.Reload"};
  EXPECT_EQ(reload, raise(failed, &view_, 1));
  // A hang is judged at its second report; still hung after the reload, the
  // view is made anew, from the loop.
  EXPECT_EQ(std::vector<std::string>{kind}, raise(failed, &view_, 2));
  EXPECT_EQ(reload, raise(failed, &view_, 2));
  EXPECT_FALSE(posted());
  EXPECT_EQ(std::vector<std::string>{kind}, raise(failed, &view_, 2));
  EXPECT_TRUE(posted());
  EXPECT_EQ(std::vector<std::string>{kind}, raise(failed, &view_, 7));
  // Three reloads of a dead page in a minute, hangs apart; then the page is
  // left as it is.
  EXPECT_EQ(reload, raise(failed, &view_, 1));
  EXPECT_EQ(reload, raise(failed, &view_, 1));
  EXPECT_EQ(std::vector<std::string>{kind}, raise(failed, &view_, 1));

  // The browser gone: the view is hidden, closed and let go, as on WM_DESTROY;
  // the rebuild is left to the loop.
  EXPECT_EQ((std::vector<std::string>{kind, "Controller.put_IsVisible 0", "Controller.Close"}),
            raise(failed, &view_, 0));
  EXPECT_TRUE(posted());
  EXPECT_EQ(nullptr, WebViewController.Get());
  EXPECT_EQ(nullptr, WebView.Get());
  EXPECT_EQ(1, controller_.refs);
  EXPECT_EQ(1, view_.refs);

  // Late events of that view touch neither it nor the view that replaced it.
  EXPECT_EQ((std::vector<std::string>{kind}), raise(failed, &view_, 0));
  FakeLog otherLog;
  FakeCom settings = MakeFakeSettings(&otherLog);
  FakeCom view = MakeFakeWebView(&otherLog, &settings);
  FakeCom controller = MakeFakeController(&otherLog, &view);
  OnControllerCreated(window_, S_OK, As<ICoreWebView2Controller>(controller));
  otherLog.calls.clear();
  EXPECT_EQ((std::vector<std::string>{kind}), raise(failed, &view_, 1));
  EXPECT_EQ((std::vector<std::string>{kind}), raise(failed, &view_, 0));
  EXPECT_TRUE(otherLog.calls.empty());
  EXPECT_EQ(As<ICoreWebView2Controller>(controller), WebViewController.Get());
  ReleaseWebView();
  DropFakeReferences(&view);
}

TEST_F(WebViewHost, EventTextsAreFreedExactlyOnce) {
  TaskMemoryWatch watch;
  FakeCom navigation = MakeFakeNavigationArgs(&log_, L"http://127.0.0.1:13001/");
  EXPECT_EQ(S_OK, OnNavigationStarting(nullptr, As<ICoreWebView2NavigationStartingEventArgs>(navigation)));
  const int navigationFrees = watch.FreesOf(navigation.handedOut);
  EXPECT_EQ(1, navigationFrees);

  FakeCom message = MakeFakeMessageArgs(&log_, L"http://127.0.0.1:13001/");
  EXPECT_EQ(S_OK, OnWebMessageReceived(nullptr, As<ICoreWebView2WebMessageReceivedEventArgs>(message)));
  // The allocator may hand the same block out again.
  EXPECT_EQ(1, watch.FreesOf(message.handedOut) - (message.handedOut == navigation.handedOut ? navigationFrees : 0));

  // A message that is not a string: the getter fails, nothing to free.
  FakeCom object = MakeFakeMessageArgs(&log_, nullptr);
  EXPECT_EQ(S_OK, OnWebMessageReceived(nullptr, As<ICoreWebView2WebMessageReceivedEventArgs>(object)));
  EXPECT_EQ(nullptr, object.handedOut);
  EXPECT_EQ(S_OK, OnNewWindowRequested(nullptr, nullptr));
  EXPECT_EQ((std::vector<std::string>{"NavigationArgs.get_Uri", "MessageArgs.TryGetWebMessageAsString",
                                      "MessageArgs.TryGetWebMessageAsString"}),
            log_.calls);
}

}  // namespace
