// Our hand-written WebView2 declarations against the runtime's ABI: a wrong
// slot or size here would only show as a crash on a user's machine.
#include <gtest/gtest.h>
#include <array>
#include <cstddef>
#include <utility>
#include "webview/webview2.h"

static_assert(sizeof(BOOL) == 4, "BOOL crosses the ABI as 32 bits");
static_assert(sizeof(RECT) == 16, "put_Bounds takes a 16-byte RECT by value");
static_assert(sizeof(EventRegistrationToken) == 8, "tokens are one INT64");
static_assert(sizeof(IID) == 16, "IIDs are 16 bytes");

namespace {

// An object shaped like a COM object whose every vtable entry records its own
// index, so a call through our declarations shows which slot it reached.
struct SlotProbe {
  void* const* vtable;
  int lastSlot;
};

template <size_t Index>
HRESULT STDMETHODCALLTYPE RecordSlot(SlotProbe* self) {
  // Arguments are ignored: on x64 the caller owns its argument space.
  self->lastSlot = static_cast<int>(Index);
  return S_OK;
}

template <size_t... Index>
std::array<void*, sizeof...(Index)> MakeSlotTable(std::index_sequence<Index...>) {
  return {{reinterpret_cast<void*>(&RecordSlot<Index>)...}};
}

constexpr size_t SlotCount = 64;  // more than the largest vtable we call (ICoreWebView2 reaches 45)

template <class Interface>
struct Probe {
  Probe() : probe{Table().data(), -1} {}
  Interface* operator->() { return reinterpret_cast<Interface*>(&probe); }
  int Slot() const { return probe.lastSlot; }
  static const std::array<void*, SlotCount>& Table() {
    static const std::array<void*, SlotCount> table = MakeSlotTable(std::make_index_sequence<SlotCount>());
    return table;
  }
  SlotProbe probe;
};

// Calls `call` on a fresh probe and returns the slot it landed on.
#define SLOT_OF(Interface, call) \
  ([] {                          \
    Probe<Interface> p;          \
    p->call;                     \
    return p.Slot();             \
  }())

}  // namespace

TEST(WebView2Slots, IUnknownComesFirst) {
  EXPECT_EQ(0, SLOT_OF(ICoreWebView2, QueryInterface(IID_IUnknown, nullptr)));
  EXPECT_EQ(1, SLOT_OF(ICoreWebView2Settings, AddRef()));
  EXPECT_EQ(2, SLOT_OF(ICoreWebView2Controller, Release()));
}

TEST(WebView2Slots, EnvironmentAndController) {
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2Environment, CreateCoreWebView2Controller(nullptr, nullptr)));
  // The same object queried for Environment5 (Environment2 to 4 in between).
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2Environment5, CreateCoreWebView2Controller(nullptr, nullptr)));
  EXPECT_EQ(12, SLOT_OF(ICoreWebView2Environment5, add_BrowserProcessExited(nullptr, nullptr)));
  EXPECT_EQ(13, SLOT_OF(ICoreWebView2Environment5, remove_BrowserProcessExited(EventRegistrationToken{})));

  EXPECT_EQ(4, SLOT_OF(ICoreWebView2Controller, put_IsVisible(TRUE)));
  EXPECT_EQ(6, SLOT_OF(ICoreWebView2Controller, put_Bounds(RECT{1, 2, 3, 4})));
  EXPECT_EQ(22, SLOT_OF(ICoreWebView2Controller, put_ParentWindow(nullptr)));
  EXPECT_EQ(24, SLOT_OF(ICoreWebView2Controller, Close()));
  EXPECT_EQ(25, SLOT_OF(ICoreWebView2Controller, get_CoreWebView2(nullptr)));
}

TEST(WebView2Slots, CoreWebView2) {
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2, get_Settings(nullptr)));
  EXPECT_EQ(5, SLOT_OF(ICoreWebView2, Navigate(L"http://127.0.0.1:13001")));
  EXPECT_EQ(7, SLOT_OF(ICoreWebView2, add_NavigationStarting(nullptr, nullptr)));
  EXPECT_EQ(8, SLOT_OF(ICoreWebView2, remove_NavigationStarting(EventRegistrationToken{})));
  EXPECT_EQ(25, SLOT_OF(ICoreWebView2, add_ProcessFailed(nullptr, nullptr)));
  EXPECT_EQ(27, SLOT_OF(ICoreWebView2, AddScriptToExecuteOnDocumentCreated(L"", nullptr)));
  EXPECT_EQ(29, SLOT_OF(ICoreWebView2, ExecuteScript(L"", nullptr)));
  EXPECT_EQ(31, SLOT_OF(ICoreWebView2, Reload()));
  EXPECT_EQ(34, SLOT_OF(ICoreWebView2, add_WebMessageReceived(nullptr, nullptr)));
  EXPECT_EQ(35, SLOT_OF(ICoreWebView2, remove_WebMessageReceived(EventRegistrationToken{})));
  EXPECT_EQ(37, SLOT_OF(ICoreWebView2, get_BrowserProcessId(nullptr)));
  EXPECT_EQ(44, SLOT_OF(ICoreWebView2, add_NewWindowRequested(nullptr, nullptr)));
  EXPECT_EQ(45, SLOT_OF(ICoreWebView2, remove_NewWindowRequested(EventRegistrationToken{})));
}

TEST(WebView2Slots, SettingsArePutAfterGet) {
  EXPECT_EQ(4, SLOT_OF(ICoreWebView2Settings, put_IsScriptEnabled(TRUE)));
  EXPECT_EQ(6, SLOT_OF(ICoreWebView2Settings, put_IsWebMessageEnabled(TRUE)));
  EXPECT_EQ(8, SLOT_OF(ICoreWebView2Settings, put_AreDefaultScriptDialogsEnabled(FALSE)));
  EXPECT_EQ(10, SLOT_OF(ICoreWebView2Settings, put_IsStatusBarEnabled(FALSE)));
  EXPECT_EQ(12, SLOT_OF(ICoreWebView2Settings, put_AreDevToolsEnabled(FALSE)));
  EXPECT_EQ(14, SLOT_OF(ICoreWebView2Settings, put_AreDefaultContextMenusEnabled(FALSE)));
  EXPECT_EQ(18, SLOT_OF(ICoreWebView2Settings, put_IsZoomControlEnabled(FALSE)));
  EXPECT_EQ(20, SLOT_OF(ICoreWebView2Settings, put_IsBuiltInErrorPageEnabled(FALSE)));
}

TEST(WebView2Slots, EventArgs) {
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2NavigationStartingEventArgs, get_Uri(nullptr)));
  EXPECT_EQ(8, SLOT_OF(ICoreWebView2NavigationStartingEventArgs, put_Cancel(TRUE)));
  EXPECT_EQ(5, SLOT_OF(ICoreWebView2WebMessageReceivedEventArgs, TryGetWebMessageAsString(nullptr)));
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2ProcessFailedEventArgs, get_ProcessFailedKind(nullptr)));
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2BrowserProcessExitedEventArgs, get_BrowserProcessExitKind(nullptr)));
  EXPECT_EQ(4, SLOT_OF(ICoreWebView2BrowserProcessExitedEventArgs, get_BrowserProcessId(nullptr)));
  // This interface orders its pairs put before get.
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2NewWindowRequestedEventArgs, get_Uri(nullptr)));
  EXPECT_EQ(6, SLOT_OF(ICoreWebView2NewWindowRequestedEventArgs, put_Handled(TRUE)));
  EXPECT_EQ(7, SLOT_OF(ICoreWebView2NewWindowRequestedEventArgs, get_Handled(nullptr)));
}

TEST(WebView2Slots, HandlersInvokeAtSlot3) {
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, Invoke(S_OK, nullptr)));
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, Invoke(S_OK, nullptr)));
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2NavigationStartingEventHandler, Invoke(nullptr, nullptr)));
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2NewWindowRequestedEventHandler, Invoke(nullptr, nullptr)));
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2WebMessageReceivedEventHandler, Invoke(nullptr, nullptr)));
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2ExecuteScriptCompletedHandler, Invoke(S_OK, L"null")));
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2ProcessFailedEventHandler, Invoke(nullptr, nullptr)));
  EXPECT_EQ(3, SLOT_OF(ICoreWebView2BrowserProcessExitedEventHandler, Invoke(nullptr, nullptr)));
}

namespace {

// The runtime's published string form; braces added for IIDFromString.
IID ParseIid(const wchar_t* text) {
  wchar_t braced[40] = {};
  _snwprintf(braced, 39, L"{%ls}", text);
  IID iid = {};
  EXPECT_EQ(S_OK, IIDFromString(braced, &iid)) << text;
  return iid;
}

struct IidCase {
  const char* name;
  const wchar_t* text;
  IID constant;
  IID uuidof;
};

#define IID_CASE(Interface, text) {#Interface, text, IID_##Interface, __uuidof(Interface)}

}  // namespace

TEST(WebView2Iids, MatchThePublishedStringsAndUuidof) {
  const IidCase cases[] = {
      IID_CASE(ICoreWebView2Environment, L"b96d755e-0319-4e92-a296-23436f46a1fc"),
      IID_CASE(ICoreWebView2Environment5, L"319e423d-e0d7-4b8d-9254-ae9475de9b17"),
      IID_CASE(ICoreWebView2Controller, L"4d00c0d1-9434-4eb6-8078-8697a560334f"),
      IID_CASE(ICoreWebView2, L"76eceacb-0462-4d94-ac83-423a6793775e"),
      IID_CASE(ICoreWebView2Settings, L"e562e4f0-d7fa-43ac-8d71-c05150499f00"),
      IID_CASE(ICoreWebView2NavigationStartingEventArgs, L"5b495469-e119-438a-9b18-7604f25f2e49"),
      IID_CASE(ICoreWebView2WebMessageReceivedEventArgs, L"0f99a40c-e962-4207-9e92-e3d542eff849"),
      IID_CASE(ICoreWebView2NewWindowRequestedEventArgs, L"34acb11c-fc37-4418-9132-f9c21d1eafb9"),
      IID_CASE(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, L"4e8a3389-c9d8-4bd2-b6b5-124fee6cc14d"),
      IID_CASE(ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, L"6c4819f3-c9b7-4260-8127-c9f5bde7f68c"),
      IID_CASE(ICoreWebView2NavigationStartingEventHandler, L"9adbe429-f36d-432b-9ddc-f8881fbd76e3"),
      IID_CASE(ICoreWebView2NewWindowRequestedEventHandler, L"d4c185fe-c81c-4989-97af-2d3fa7ab5651"),
      IID_CASE(ICoreWebView2WebMessageReceivedEventHandler, L"57213f19-00e6-49fa-8e07-898ea01ecbd2"),
      IID_CASE(ICoreWebView2ExecuteScriptCompletedHandler, L"49511172-cc67-4bca-9923-137112f4c4cc"),
      IID_CASE(ICoreWebView2ProcessFailedEventHandler, L"79e0aea4-990b-42d9-aa1d-0fcc2e5bc7f1"),
      IID_CASE(ICoreWebView2ProcessFailedEventArgs, L"8155a9a4-1474-4a86-8cae-151b0fa6b8ca"),
      IID_CASE(ICoreWebView2BrowserProcessExitedEventHandler, L"fa504257-a216-4911-a860-fe8825712861"),
      IID_CASE(ICoreWebView2BrowserProcessExitedEventArgs, L"1f00663f-af8c-4782-9cdd-dd01c52e34cb"),
      IID_CASE(ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler,
               L"b99369f3-9b11-47b5-bc6f-8e7895fcea17"),
  };
  for (const auto& c : cases) {
    IID parsed = ParseIid(c.text);
    EXPECT_TRUE(IsEqualIID(parsed, c.constant)) << c.name;
    EXPECT_TRUE(IsEqualIID(c.constant, c.uuidof)) << c.name;
  }
}
