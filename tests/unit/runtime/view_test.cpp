// The runtime's view on a real page: completions through the loop one at a
// time, script results as JSON text, document scripts and web messages in
// every document, new windows, dialogs, the error page, zoom, and the view
// following its controller until Close.
#include <gtest/gtest.h>
#include "runtime_host.h"
#include "webview/handler.h"

namespace {

constexpr wchar_t StartPage[] = L"http://127.0.0.1:13001/";

// A page that records what its own first script finds, links to a second
// page, and can post an object.
constexpr char FirstPage[] = R"(<!DOCTYPE html><title>first</title>
<script>
window.sawFrozen = Object.isFrozen(Object);
try { Object.addedByPage = 1; } catch (e) {}
window.addedStuck = 'addedByPage' in Object;
</script>
<a id="next" href="/next" style="display:block;width:120px;height:40px">next</a>
<input id="field" style="display:block;width:200px;height:30px">)";
constexpr char SecondPage[] = R"(<!DOCTYPE html><title>second</title>
<script>window.sawFrozen = Object.isFrozen(Object);</script>)";

class RuntimeView : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    WritePage(L"first.html", FirstPage);
    WritePage(L"second.html", SecondPage);
    ASSERT_TRUE(service.Start(L"--page \"/=" + host.folder.File(L"first.html") + L"\" --page \"/next=" +
                              host.folder.File(L"second.html") + L"\""));
    ASSERT_EQ(S_OK, host.Start());
    ApplyClientSettings(host.view);
  }
  void TearDown() override {
    host.Release();
    CoUninitialize();
  }
  void WritePage(const wchar_t* name, const char* html) {
    HANDLE file = CreateFileW(host.folder.File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, html, static_cast<DWORD>(strlen(html)), &written, nullptr);
    CloseHandle(file);
  }
  HWND Page() const { return FindChildOfClass(host.window, L"NorvWebViewPage"); }
  // A value the page's own script sets, once it is set: the document's
  // message comes from the document scripts, before the page's script runs.
  std::wstring PageResult(const std::wstring& expression) {
    std::wstring value;
    PumpUntil([&] { return (value = host.RunScript(expression)) != L"null"; });
    return value;
  }

  DevService service;
  RuntimeHost host;
};

TEST_F(RuntimeView, CompletionsComeFromTheLoopOneAtATime) {
  bool firstRunning = false, secondDuringFirst = false, secondDone = false;
  const DWORD thread = GetCurrentThreadId();
  DWORD completedOn = 0;
  auto* first = MakeHandler<ICoreWebView2ExecuteScriptCompletedHandler>([&](HRESULT, LPCWSTR) {
    completedOn = GetCurrentThreadId();
    // A completion with a modal loop of its own, as the tray menu's.
    firstRunning = true;
    PumpFor(1500);
    firstRunning = false;
  });
  auto* second = MakeHandler<ICoreWebView2ExecuteScriptCompletedHandler>([&](HRESULT, LPCWSTR) {
    secondDuringFirst = firstRunning;
    secondDone = true;
  });
  ASSERT_EQ(S_OK, host.view->ExecuteScript(L"1", first));
  ASSERT_EQ(S_OK, host.view->ExecuteScript(L"2", second));
  first->Release();
  second->Release();
  EXPECT_FALSE(firstRunning || secondDone) << "a completion ran inside the call";
  EXPECT_TRUE(PumpUntil([&] { return secondDone; }));
  EXPECT_FALSE(secondDuringFirst) << "the second completion ran inside the first one's loop";
  EXPECT_EQ(thread, completedOn);
  EXPECT_TRUE(host.LogHas("ExecuteScriptCompletedHandler.Release 0"));
}

TEST_F(RuntimeView, ScriptResultsAreJsonText) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"1 + 1", L"2"},
      {L"'say \"hi\"'", L"\"say \\\"hi\\\"\""},
      {L"'\\u6F9C'", L"\"\u6F9C\""},
      {L"({list: [1, true, null]})", L"{\"list\":[1,true,null]}"},
      {L"document.getElementById('vpn_switch').checked;", L"null"},  // no such element: the script throws
      {L"undefined", L"null"},
      {L"NaN", L"null"},
      {L"(function () {})", L"null"},
      {L"-0", L"0"},
      {L"var answer = 6 * 7; answer;", L"42"},
  };
  for (const auto& entry : cases) EXPECT_EQ(std::wstring(entry.second), host.RunScript(entry.first)) << entry.first;
}

TEST_F(RuntimeView, DocumentScriptsRunFirstAndEachDocumentPostsItsAddressOnce) {
  std::wstring id;
  auto* added = MakeHandler<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>(
      [&](HRESULT, LPCWSTR identifier) { id = identifier; });
  ASSERT_EQ(S_OK, host.view->AddScriptToExecuteOnDocumentCreated(L"window.ownScript = 1;", added));
  added->Release();
  ASSERT_TRUE(PumpUntil([&] { return !id.empty(); }));
  host.AddClientScripts();
  // A script added once the navigation has started is not that document's.
  ASSERT_EQ(S_OK, host.view->Navigate(StartPage));
  ASSERT_EQ(S_OK, host.view->AddScriptToExecuteOnDocumentCreated(L"window.lateScript = 1;", nullptr));
  ASSERT_TRUE(PumpUntil([&] { return host.messages.size() == 1; }));
  // The page's own script has run once its result is there.
  EXPECT_EQ(L"true", PageResult(L"window.sawFrozen"));
  EXPECT_EQ(L"false", host.RunScript(L"window.addedStuck"));
  EXPECT_EQ(L"\"undefined\"", host.RunScript(L"typeof window.lateScript"));

  // A navigation from inside the page: a new document, the scripts again.
  host.RunScript(L"document.getElementById('next').click()");
  ASSERT_TRUE(PumpUntil([&] { return host.messages.size() >= 2; }));
  EXPECT_EQ(L"true", PageResult(L"window.sawFrozen"));
  EXPECT_EQ(L"1", host.RunScript(L"window.lateScript"));
  host.RunScript(L"0");  // what the documents posted came before its result
  EXPECT_EQ((std::vector<std::wstring>{L"http://127.0.0.1:13001/", L"http://127.0.0.1:13001/next"}), host.messages);
  EXPECT_EQ((std::vector<std::wstring>{L"http://127.0.0.1:13001/", L"http://127.0.0.1:13001/next"}), host.navigations);

  // A posted object has no text, and the view goes on.
  host.RunScript(L"window.chrome.webview.postMessage({kind: 'object'})");
  ASSERT_TRUE(PumpUntil([&] { return host.messages.size() == 3; }));
  EXPECT_EQ(L"<no text>", host.messages[2]);
  EXPECT_EQ(L"2", host.RunScript(L"1 + 1"));
}

TEST_F(RuntimeView, NewWindowsDialogsAndTheErrorPage) {
  host.view->Navigate(StartPage);
  ASSERT_TRUE(host.WaitForLog("WebView.document http://127.0.0.1:13001/"));

  // window.open: the client's handler sees it, then the runtime's own window shows the page.
  host.RunScript(L"window.open('/next', '', 'width=300,height=200'); 1");
  ASSERT_TRUE(PumpUntil([&] { return FindOwnTopLevelWindow(L"NorvWebViewPopup") != nullptr; }));
  EXPECT_EQ(1u, host.newWindows.size());
  HWND popup = FindOwnTopLevelWindow(L"NorvWebViewPopup");
  RECT area;
  GetClientRect(popup, &area);
  EXPECT_EQ(300, area.right);
  EXPECT_EQ(200, area.bottom);
  EXPECT_TRUE(host.WaitForLog("NewWindowRequested.default http://127.0.0.1:13001/next"));
  PostMessageW(popup, WM_CLOSE, 0, 0);
  EXPECT_TRUE(PumpUntil([] { return FindOwnTopLevelWindow(L"NorvWebViewPopup") == nullptr; }));

  // No default dialogs and no handler for them: alert neither shows nor blocks.
  EXPECT_EQ(L"\"after\"", host.RunScript(L"alert('hello'); 'after'"));
  EXPECT_EQ(nullptr, FindOwnTopLevelWindow(L"#32770"));
  EXPECT_TRUE(host.LogHas("ScriptDialog.suppressed alert hello"));

  // The service gone: no built-in error page, a white view.
  service.Stop();
  host.view->Navigate(StartPage);
  ASSERT_TRUE(host.WaitForLog("WebView.document chrome-error://chromewebdata/"));
  EXPECT_TRUE(PumpUntil([&] { return NonWhitePixels(Page()) == 0; }, LivenessMs));
  EXPECT_EQ(L"null", host.RunScript(L"document.getElementById('vpn_switch').checked;"));
  // With the built-in page on, the browser's own error page shows.
  ICoreWebView2Settings* settings = nullptr;
  host.view->get_Settings(&settings);
  settings->put_IsBuiltInErrorPageEnabled(TRUE);
  settings->Release();
  EXPECT_TRUE(PumpUntil([&] { return NonWhitePixels(Page()) > 0; }, LivenessMs));
}

TEST_F(RuntimeView, ZoomKeysAndCtrlWheelDoNothingWithTheZoomControlOff) {
  host.view->Navigate(StartPage);
  ASSERT_TRUE(host.WaitForLog("WebView.document http://127.0.0.1:13001/"));
  const std::wstring normal = host.RunScript(L"devicePixelRatio + ' ' + innerWidth");
  HWND page = Page();
  ASSERT_NE(nullptr, page);
  // The runtime decides on zooming as the input comes; the browser shows it later.
  auto zoomIn = [page] {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(page, WM_KEYDOWN, VK_OEM_PLUS, 1);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    SendMessageW(page, WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, WHEEL_DELTA), MAKELPARAM(50, 50));
  };
  zoomIn();
  EXPECT_EQ(normal, host.RunScript(L"devicePixelRatio + ' ' + innerWidth"));

  // The same input zooms (two steps: 1.25) once the control is on.
  ICoreWebView2Settings* settings = nullptr;
  host.view->get_Settings(&settings);
  settings->put_IsZoomControlEnabled(TRUE);
  settings->Release();
  zoomIn();
  std::wstring zoomed;
  EXPECT_TRUE(PumpUntil(
      [&] { return (zoomed = host.RunScript(L"devicePixelRatio + ' ' + innerWidth")).substr(0, 6) == L"\"1.25 "; },
      LivenessMs))
      << zoomed;
}

TEST_F(RuntimeView, FollowsTheControllerAndCloses) {
  host.view->Navigate(StartPage);
  ASSERT_TRUE(host.WaitForPaintedFrame());
  HWND page = Page();
  ASSERT_NE(nullptr, page);

  EXPECT_EQ(S_OK, host.controller->put_Bounds(RECT{10, 20, 310, 420}));
  RECT placed;
  GetWindowRect(page, &placed);
  MapWindowPoints(nullptr, host.window, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ((std::vector<LONG>{10, 20, 310, 420}), (std::vector<LONG>{placed.left, placed.top, placed.right, placed.bottom}));
  EXPECT_TRUE(PumpUntil([&] { return host.RunScript(L"innerWidth") == L"300"; }, LivenessMs));

  EXPECT_EQ(S_OK, host.controller->put_IsVisible(FALSE));
  EXPECT_FALSE(IsWindowVisible(page));
  const size_t painted = host.Log().size();
  EXPECT_EQ(S_OK, host.controller->put_IsVisible(TRUE));
  EXPECT_TRUE(IsWindowVisible(page));
  // Shown again, the page is drawn again.
  EXPECT_TRUE(PumpUntil([&] {
    const auto lines = host.Log();
    for (size_t i = painted; i < lines.size(); ++i)
      if (lines[i].compare(0, 13, "Frame.painted") == 0) return true;
    return false;
  }));

  // A slot the runtime does not serve says so.
  LPWSTR source = nullptr;
  EXPECT_EQ(E_NOTIMPL, host.view->get_Source(&source));
  EXPECT_TRUE(host.LogHas("WebView: unexpected slot 4"));

  const int port = atoi(host.LogValue("port").c_str());
  ASSERT_NE(std::string::npos, HttpGet(port, L"/json/list").find("127.0.0.1:13001"));
  EXPECT_EQ(S_OK, host.controller->Close());
  EXPECT_FALSE(IsWindow(page));
  EXPECT_EQ(static_cast<HRESULT>(0x8007139F), host.view->ExecuteScript(L"1", nullptr));
  EXPECT_EQ(static_cast<HRESULT>(0x8007139F), host.controller->put_IsVisible(TRUE));
  EXPECT_TRUE(PumpUntil([&] { return HttpGet(port, L"/json/list").find("127.0.0.1:13001") == std::string::npos; }));
}

// Where an element of the page is, in the page window's coordinates.
POINT CentreOf(RuntimeHost& host, const wchar_t* id) {
  const std::wstring box = host.RunScript(std::wstring(L"(() => { const r = document.getElementById('") + id +
                                          L"').getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()");
  POINT at = {};
  swscanf(box.c_str(), L"[%ld,%ld]", &at.x, &at.y);
  return at;
}

TEST_F(RuntimeView, APersonsClicksAndKeysReachThePage) {
  host.AddClientScripts();
  ASSERT_TRUE(host.Navigate(StartPage, 0));
  HWND page = Page();
  ASSERT_NE(nullptr, page);
  ASSERT_TRUE(host.WaitForPaintedFrame());  // laid out where the clicks go
  // Typing into a field after clicking it.
  const POINT field = CentreOf(host, L"field");
  SendMessageW(page, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(field.x, field.y));
  SendMessageW(page, WM_LBUTTONUP, 0, MAKELPARAM(field.x, field.y));
  for (wchar_t c : std::wstring(L"ok \u6F9C")) SendMessageW(page, WM_CHAR, c, 1);
  std::wstring typed;
  EXPECT_TRUE(PumpUntil(
      [&] { return (typed = host.RunScript(L"document.getElementById('field').value")) == L"\"ok \u6F9C\""; },
      LivenessMs))
      << Narrow(typed);
  // Clicking the link: a new document.
  const POINT link = CentreOf(host, L"next");
  SendMessageW(page, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(link.x, link.y));
  SendMessageW(page, WM_LBUTTONUP, 0, MAKELPARAM(link.x, link.y));
  ASSERT_TRUE(PumpUntil([&] { return host.messages.size() == 2; }));
  EXPECT_EQ(L"http://127.0.0.1:13001/next", host.messages[1]);
}

TEST_F(RuntimeView, ACrashedPageIsReportedAndComesBackWithAReload) {
  std::vector<int> kinds;
  auto* failed = MakeHandler<ICoreWebView2ProcessFailedEventHandler>(
      [&](ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args) {
        COREWEBVIEW2_PROCESS_FAILED_KIND kind;
        if (FAILED(args->get_ProcessFailedKind(&kind))) return;
        kinds.push_back(kind);
        if (kind == COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED) sender->Reload();
      });
  EventRegistrationToken token;
  ASSERT_EQ(S_OK, host.view->add_ProcessFailed(failed, &token));
  failed->Release();
  host.AddClientScripts();
  ASSERT_TRUE(host.Navigate(StartPage, 0));
  // The browser's own address that ends the page's renderer.
  ASSERT_EQ(S_OK, host.view->Navigate(L"chrome://crash"));
  ASSERT_TRUE(PumpUntil([&] { return !kinds.empty(); }));
  EXPECT_EQ(std::vector<int>{1}, kinds);
  // Reloaded: the page again, with the document scripts.
  ASSERT_TRUE(PumpUntil([&] { return host.messages.size() == 2; }));
  EXPECT_EQ(L"http://127.0.0.1:13001/", host.messages[1]);
  EXPECT_EQ(L"true", PageResult(L"window.sawFrozen"));
}

TEST_F(RuntimeView, ScriptsAndWebMessagesCanBeSwitchedOff) {
  ICoreWebView2Settings* settings = nullptr;
  host.view->get_Settings(&settings);
  settings->put_IsWebMessageEnabled(FALSE);
  settings->put_IsScriptEnabled(FALSE);
  settings->Release();
  host.AddClientScripts();
  host.view->Navigate(StartPage);
  // Drawn: the document scripts and the page's own had their turn.
  ASSERT_TRUE(host.WaitForPaintedFrame());
  // The page's own script did not run; the host's still do.
  EXPECT_EQ(L"\"undefined\"", host.RunScript(L"typeof window.sawFrozen"));
  EXPECT_EQ(L"\"undefined\"", host.RunScript(L"typeof (window.chrome && window.chrome.webview)"));
  EXPECT_TRUE(host.messages.empty());
}

}  // namespace
